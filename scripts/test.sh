#!/usr/bin/env bash
# Builds from scratch and runs every test: a Release build (with the Python
# module, the GStreamer plugin, the install and package checks), the WebAssembly build and its page
# in headless Chromium, the conformance vectors with plain arithmetic, the
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, a short fuzzing
# smoke run, and the thread test under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

# Options given in full: scripts/run-sample.sh may have configured build/ without tests.
cmake -S . -B build -DQRXC_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DQRXC_BUILD_BENCH=ON -DQRXC_BUILD_PYTHON=ON \
  -DQRXC_BUILD_TESTS=ON -DQRXC_BUILD_GUI=ON -DQRXC_BUILD_EXAMPLES=ON -DQRXC_BUILD_GSTREAMER=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
scripts/test-readme.sh build/cli/qrx build
scripts/test-install.sh build
# The pip package: a wheel built offline, installed into a fresh venv, tested there.
scripts/test-pip.sh
# The README's recipes beyond one machine: GNU parallel and the Dask example.
scripts/test-recipes.sh build/cli/qrx build/python

# The WebAssembly build and the page, against the native qrx.
scripts/test-web.sh build/cli/qrx

# The same bits with every fast arithmetic form compiled as its plain
# operator chain: the conformance vectors and the random-frame digests check
# the fast layer and every kernel set end to end.
cmake -S . -B build-plain -DQRXC_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DQRXC_PLAIN_OPS=ON -DQRXC_BUILD_GUI=OFF -DQRXC_BUILD_CLI=OFF
cmake --build build-plain -j"$jobs" --target qrxc_tests
build-plain/tests/qrxc_tests --gtest_filter='*Conformance*:*RandomFrames*:*RandomSignal*'

cmake -S . -B build-asan -DQRXC_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRXC_SANITIZE=ON -DQRXC_BUILD_GSTREAMER=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

cmake -S . -B build-fuzz -DQRXC_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRXC_FUZZ=ON -DQRXC_BUILD_TESTS=OFF \
  -DQRXC_BUILD_CLI=OFF -DQRXC_BUILD_GUI=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz -j"$jobs"
# Each target briefly on its committed corpus; new inputs go to a scratch
# directory (the first one given), so the committed corpus stays as it is.
smoke=$(mktemp -d)
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  t=$(basename "$f")
  echo "fuzz smoke: $t"
  mkdir -p "$smoke/$t"
  "$f" -max_total_time=10 -seed=1 -close_fd_mask=1 -artifact_prefix="$smoke/" "$smoke/$t" "fuzz/corpus/$t"
done
rm -rf "$smoke"

# ThreadSanitizer: the library and the multi-context thread test only.
cmake -S . -B build-tsan -DQRXC_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRXC_TSAN=ON -DQRXC_BUILD_CLI=OFF -DQRXC_BUILD_GUI=OFF
cmake --build build-tsan -j"$jobs" --target qrxc_thread_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/qrxc_thread_tests
echo "All tests passed."
