#!/usr/bin/env bash
# Makes samples/hello.QRX: synthetic speech (espeak-ng), resampled to 8 kHz
# 16-bit mono (sox) and encoded as type 5 (4-bit ADPCM) with our own library;
# the same speech as G.723.1 at 6.3 kbit/s (long header) and 5.3 kbit/s
# (short header) in samples/hello-g723-63.QRX and hello-g723-53.QRX.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target qrxc qrx >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -std=c11 -O2 -Iinclude scripts/raw2qrx.c -Lbuild -lqrxc -Wl,-rpath,"$PWD/build" -o "$work/raw2qrx"
espeak-ng -v en-us -s 150 -w "$work/speech.wav" \
  "Hello. This is a short test message, recorded for the Q R X voice file converter. \
Please call me back when you get this. Thank you, and have a nice day."
sox "$work/speech.wav" -r 8000 -c 1 -b 16 -e signed-integer -L -t raw "$work/speech.raw" gain -n -3
"$work/raw2qrx" 5 8000 < "$work/speech.raw" > samples/hello.QRX
echo "wrote samples/hello.QRX ($(stat -c %s samples/hello.QRX) bytes)"
"$work/raw2qrx" 2 8000 < "$work/speech.raw" > samples/hello-g723-63.QRX
"$work/raw2qrx" 1 8000 short < "$work/speech.raw" > samples/hello-g723-53.QRX
echo "wrote samples/hello-g723-63.QRX and samples/hello-g723-53.QRX"
