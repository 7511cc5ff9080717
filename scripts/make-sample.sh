#!/usr/bin/env bash
# Makes samples/hello.QRX: synthetic speech (espeak-ng), resampled to 8 kHz
# 16-bit mono (sox) and encoded as type 5 (4-bit ADPCM) by examples/encode_raw
# against the library just built; the same speech as G.723.1 at 6.3 kbit/s
# (long header) and 5.3 kbit/s (short header) in samples/hello-g723-63.QRX and
# hello-g723-53.QRX.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQRXC_BUILD_EXAMPLES=ON >/dev/null
cmake --build build -j2 --target encode_raw >/dev/null
encode=build/examples/encode_raw
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
espeak-ng -v en-us -s 150 -w "$work/speech.wav" \
  "Hello. This is a short test message, recorded for the Q R X voice file converter. \
Please call me back when you get this. Thank you, and have a nice day."
sox "$work/speech.wav" -r 8000 -c 1 -b 16 -e signed-integer -L -t raw "$work/speech.raw" gain -n -3
"$encode" "$work/speech.raw" samples/hello.QRX 5 8000
echo "wrote samples/hello.QRX ($(stat -c %s samples/hello.QRX) bytes)"
"$encode" "$work/speech.raw" samples/hello-g723-63.QRX 2 8000
"$encode" "$work/speech.raw" samples/hello-g723-53.QRX 1 8000 short
echo "wrote samples/hello-g723-63.QRX and samples/hello-g723-53.QRX"
