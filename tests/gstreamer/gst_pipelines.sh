#!/usr/bin/env bash
# The plugin as people use it, against the qrx tool: decodebin decodes every
# type to qrx decode's samples, gst-discoverer, playbin and gst-play know
# QRX files, the encoders write qrx encode's bytes, qrxspeed plays as qrx
# speed does, and G.723.1 survives an RTP loopback on 127.0.0.1.
# GST_PLUGIN_PATH must point at the built plugin.
#   gst_pipelines.sh QRX SOURCE_DIR
set -euo pipefail
qrx=$1
src=$2
work=$(mktemp -d)
receiver=
trap '[ -z "$receiver" ] || kill "$receiver" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "gst_pipelines: $*" >&2; exit 1; }
launch() { timeout 60 gst-launch-1.0 -q "$@" > "$work/launch.log" 2>&1 || { cat "$work/launch.log" >&2; fail "gst-launch-1.0 $*"; }; }
# The samples of a WAV file, whatever chunks its writer put around them.
wav_samples() { python3 -c 'import sys, wave; w = wave.open(sys.argv[1]); sys.stdout.buffer.write(w.readframes(w.getnframes()))' "$1"; }

gst-inspect-1.0 qrxc > "$work/inspect.txt" || fail "gst-inspect-1.0 does not find the plugin"
for element in qrxdemux qrxdec g723dec g723enc qrxenc qrxspeed; do
  grep -q "^  $element:" "$work/inspect.txt" || fail "the plugin has no $element"
done

# Speech as a WAV file, the input of both encoders.
python3 - "$src/tests/data/speech_8k.raw" "$work/speech.wav" <<'EOF'
import sys, wave
w = wave.open(sys.argv[2], "wb")
w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
w.writeframes(open(sys.argv[1], "rb").read())
w.close()
EOF

echo "== the encoders write what qrx encode writes"
for type in 0 1 2 4 5 6; do
  "$qrx" encode -q -t "$type" "$work/speech.wav" -o "$work/qrx-$type.QRX"
  launch filesrc location="$work/speech.wav" ! wavparse ! qrxenc type="$type" ! filesink location="$work/gst-$type.QRX"
  cmp "$work/qrx-$type.QRX" "$work/gst-$type.QRX" || fail "qrxenc type=$type differs from qrx encode"
done
for bitrate in 5300 6300; do
  type=$([ $bitrate = 5300 ] && echo 1 || echo 2)
  "$qrx" encode -q -t "$type" --output-format g723 "$work/speech.wav" -o "$work/qrx-$bitrate.g723"
  launch filesrc location="$work/speech.wav" ! wavparse ! g723enc bitrate=$bitrate ! filesink location="$work/gst-$bitrate.g723"
  cmp "$work/qrx-$bitrate.g723" "$work/gst-$bitrate.g723" || fail "g723enc bitrate=$bitrate differs from qrx encode"
done

echo "== decodebin decodes every type as qrx decode does"
inputs=("$src"/samples/*.QRX "$src/tests/data/conformance/decode/OVERD53.QRX" "$src/tests/data/conformance/decode/PATHD63P.QRX"
  "$work"/qrx-[046].QRX)
for f in "${inputs[@]}"; do
  "$qrx" decode -q -y --format raw "$f" -o "$work/qrx.raw"
  launch filesrc location="$f" ! decodebin ! audioconvert ! wavenc ! filesink location="$work/gst.wav"
  wav_samples "$work/gst.wav" | cmp -s - "$work/qrx.raw" || fail "$f decodes differently through decodebin"
done

echo "== qrxspeed plays as qrx speed does"
for setting in "level=0 --level 0" "level=12 --level 12" "effect=29 --effect 29"; do
  read -r property option value <<< "$setting"
  "$qrx" speed -q -y "$option" "$value" --format raw "$src/samples/hello.QRX" -o "$work/qrx.raw"
  launch filesrc location="$src/samples/hello.QRX" ! decodebin ! qrxspeed "$property" ! filesink location="$work/gst.raw"
  cmp -s "$work/gst.raw" "$work/qrx.raw" || fail "qrxspeed $property plays differently from qrx speed"
done

echo "== gst-discoverer-1.0, playbin and gst-play-1.0"
sample=$src/samples/hello.QRX
seconds=$("$qrx" info "$sample" | sed -n 's/^duration: *\([0-9.]*\) s$/\1/p')
timeout 60 gst-discoverer-1.0 "$sample" > "$work/discover.txt" || fail "gst-discoverer-1.0 failed on $sample"
grep -q 'audio/x-qrx' "$work/discover.txt" || fail "gst-discoverer-1.0 does not see a QRX stream"
grep -q "Duration: 0:00:${seconds}0*$" "$work/discover.txt" || fail "gst-discoverer-1.0 duration is not $seconds s: $(grep Duration "$work/discover.txt")"
launch playbin uri="file://$src/samples/hello-g723-53.QRX" audio-sink="fakesink sync=false" video-sink=fakesink
timeout 60 gst-play-1.0 --audiosink="fakesink sync=false" --videosink=fakesink --no-interactive -q "$sample" < /dev/null ||
  fail "gst-play-1.0 cannot play $sample"

echo "== G.723.1 over RTP on 127.0.0.1 decodes as the stream itself"
# (qrx decodes a standard stream to WAV only.)
"$qrx" decode -q -y "$work/qrx-6300.g723" -o "$work/direct.wav"
wav_samples "$work/direct.wav" > "$work/direct.raw"
port=$((20000 + $$ % 20000))
# Without -q gst-launch says when it plays; the sender waits for that.
timeout 30 gst-launch-1.0 -e udpsrc address=127.0.0.1 port=$port \
  caps="application/x-rtp, media=audio, clock-rate=8000, encoding-name=G723, payload=4" \
  ! rtpg723depay ! g723dec ! filesink location="$work/rtp.raw" > "$work/receiver.log" 2>&1 &
receiver=$!
for _ in $(seq 100); do grep -q PLAYING "$work/receiver.log" && break; sleep 0.1; done
grep -q PLAYING "$work/receiver.log" || fail "the RTP receiver did not start: $(cat "$work/receiver.log")"
launch filesrc location="$work/speech.wav" ! wavparse ! g723enc ! rtpg723pay ! udpsink host=127.0.0.1 port=$port sync=false
# The receiver has all when its output stops growing.
size=-1
for _ in $(seq 50); do
  sleep 0.2
  now=$(stat -c %s "$work/rtp.raw" 2>/dev/null || echo 0)
  [ "$now" = "$size" ] && [ "$now" -ge "$(stat -c %s "$work/direct.raw")" ] && break
  size=$now
done
kill -INT "$receiver"
wait "$receiver" || true
receiver=
cmp "$work/rtp.raw" "$work/direct.raw" || fail "the RTP loopback decodes differently from the stream"
echo "GStreamer pipelines passed"
