#!/usr/bin/env bash
# Builds qrx (Release) and converts the bundled sample(s) to WAV.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh sample
# A fresh tree is configured with only what qrx needs; a tree that
# scripts/test.sh configured is reused as it is.
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQRXC_BUILD_TESTS=OFF -DQRXC_BUILD_GUI=OFF >/dev/null
fi
cmake --build build -j"$(nproc)" --target qrx
out=build/samples
mkdir -p "$out"
for f in samples/*.QRX; do
  wav="$out/$(basename "${f%.*}").wav"
  build/cli/qrx info "$f"
  build/cli/qrx decode -y "$f" -o "$wav" -q
  echo "converted $f -> $PWD/$wav"
done
