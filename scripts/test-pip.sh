#!/usr/bin/env bash
# The pip package as a user gets it, offline: a wheel built with Debian's
# setuptools and pybind11, installed into a fresh venv, and the Python tests
# run against the installed copy (not the build tree).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${PYTHON:-/usr/bin/python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cd "$root"
"$py" -m build --no-isolation --wheel --outdir "$work/dist" . >"$work/build.log" 2>&1 || {
    tail -40 "$work/build.log"
    exit 1
}
wheel=$(ls "$work"/dist/qrxc-*.whl)
echo "built $(basename "$wheel") ($(stat -c %s "$wheel") bytes)"
"$py" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-index --no-deps --no-build-isolation "$wheel"
# The installed module, from outside the source tree, against its own version.
cd "$work"
QRXC_TEST_DATA="$root/tests/data" QRXC_PY_EXPECT="$work/venv/lib/python3*/site-packages/qrxc" \
    "$work/venv/bin/python" - <<'PY'
import glob, os, qrxc
expect = glob.glob(os.environ["QRXC_PY_EXPECT"])[0]
assert os.path.realpath(os.path.dirname(qrxc.__file__)) == os.path.realpath(expect), qrxc.__file__
print("installed qrxc", qrxc.__version__, "from", os.path.dirname(qrxc.__file__))
PY
QRXC_TEST_DATA="$root/tests/data" PYTHONDONTWRITEBYTECODE=1 \
    "$work/venv/bin/python" -m pytest -q -p no:cacheprovider -W error "$root/python/tests"
