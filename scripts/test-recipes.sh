#!/usr/bin/env bash
# The README's beyond-one-machine recipes, run on this machine: GNU parallel
# over its ssh login list (":" is this host) with retries, and the Dask
# example; both must write what `qrx decode -r` writes, and resume.
#   scripts/test-recipes.sh path/to/qrx path/to/python-module-dir
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
qrx=$(realpath "$1")
export PYTHONPATH=$(realpath "$2") PYTHONDONTWRITEBYTECODE=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The samples and the conformance streams, spread over three folders.
for d in a b c; do mkdir -p "in/$d"; done
i=0
for f in "$root"/samples/*.QRX "$root"/tests/data/conformance/decode/*.QRX; do
  cp "$f" "in/$(printf 'a\nb\nc\n' | sed -n "$((i % 3 + 1))p")/$(basename "${f%.*}").QRX"
  i=$((i + 1))
done
find in -name '*.QRX' | sort > files.txt
n=$(wc -l < files.txt)

t0=$(date +%s.%N)
"$qrx" decode -q -r in -O ref -j 2
t1=$(date +%s.%N)
# One job per folder, as the README has it, and one per file for the overhead.
ls in | parallel --sshlogin : --retries 3 -j 2 "'$qrx' decode -q -r in/{} -O par/{} --skip-existing"
t2=$(date +%s.%N)
mkdir perfile
parallel --sshlogin : --retries 3 -j 2 "'$qrx' decode -q {} -o perfile/{/.}.wav" < files.txt
t3=$(date +%s.%N)
diff -r ref par
for f in ref/*/*.wav; do cmp "$f" "perfile/$(basename "$f")"; done
# Resuming: nothing left to do, nothing rewritten.
again=$(ls in | parallel --sshlogin : --retries 3 "'$qrx' decode -r in/{} -O par/{} --skip-existing" 2>&1)
case "$again" in *"0 converted"*) ;; *) echo "$again"; exit 1 ;; esac

t4=$(date +%s.%N)
/usr/bin/python3 "$root/examples/dask_decode.py" files.txt dask --workers 2 2> dask.log
t5=$(date +%s.%N)
grep -q "^$n converted, 0 skipped, 0 failed" dask.log || { cat dask.log; exit 1; }
for f in ref/*/*.wav; do cmp "$f" "dask/$(basename "$f")"; done
# Resumable: a removed output comes back, the rest are skipped.
rm "dask/$(basename "$(ls ref/a/*.wav | head -1)")"
/usr/bin/python3 "$root/examples/dask_decode.py" files.txt dask --workers 2 2> dask.log
grep -q "^1 converted, $((n - 1)) skipped, 0 failed" dask.log || { cat dask.log; exit 1; }

awk -v n="$n" -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" -v e="$t4" -v f="$t5" 'BEGIN {
  printf "recipes: %d files: qrx -r -j 2 %.2f s; parallel per folder %.2f s; parallel per file %.2f s (%.0f ms a task more); dask %.2f s (cluster start included)\n",
    n, b - a, c - b, d - c, ((d - c) - (b - a)) * 1000 / n, f - e }'
