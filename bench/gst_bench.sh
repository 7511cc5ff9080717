#!/usr/bin/env bash
# Decoding speed of the GStreamer plugin beside qrx decode: a 30-minute
# speech stream of each type through filesrc ! decodebin ! fakesink
# sync=false, against qrx decode to raw PCM on standard output. Realtime
# factors are seconds of audio per CPU second (user + system, the best of
# RUNS runs), startup included in both.
#   bench/gst_bench.sh [BUILD_DIR]   (configured with -DQRXC_BUILD_GSTREAMER=ON)
set -euo pipefail
build=$(realpath "${1:-build}")
src=$(cd "$(dirname "$0")/.." && pwd)
qrx=$build/cli/qrx
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GST_PLUGIN_PATH=$build/gstreamer GST_REGISTRY=$work/registry.bin
gst-inspect-1.0 qrxc > /dev/null

python3 - "$src/tests/data/speech_8k.raw" "$work/speech.wav" <<'EOF'
import sys, wave
w = wave.open(sys.argv[2], "wb")
w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
w.writeframes(open(sys.argv[1], "rb").read() * 360)
w.close()
EOF
seconds=$(python3 -c 'import sys, wave; w = wave.open(sys.argv[1]); print(w.getnframes() / w.getframerate())' "$work/speech.wav")

# The least CPU seconds of $runs runs of a command.
cpu() {
  local best= t
  for _ in $(seq "$runs"); do
    /usr/bin/time -o "$work/time" -f '%U %S' "$@" > /dev/null 2>&1
    t=$(awk '{print $1 + $2}' "$work/time")
    best=$(awk -v a="$t" -v b="${best:-$t}" 'BEGIN { print (a < b) ? a : b }')
  done
  echo "$best"
}

printf '%-6s %12s %12s %8s\n' type "qrx decode" gst-launch "gst/qrx"
for type in 0 1 2 4 5 6; do
  f=$work/speech-$type.QRX
  "$qrx" encode -q -t "$type" "$work/speech.wav" -o "$f"
  a=$(cpu "$qrx" decode -q --format raw "$f" -o -)
  b=$(cpu gst-launch-1.0 -q filesrc location="$f" ! decodebin ! fakesink sync=false)
  awk -v t="$type" -v s="$seconds" -v a="$a" -v b="$b" \
    'BEGIN { printf "%-6s %11.0fx %11.0fx %7.1f%%\n", t, s / a, s / b, 100 * b / a }'
done
