#!/usr/bin/env bash
# Throughput of qrx on a whole collection: -j 2 against -j 1, the per-file
# overhead, FLAC and resampled output next to plain WAV, and what flushing
# each output to disk costs.
#   bench/batch_bench.sh [BUILD_DIR] [WORK_DIR]
# WORK_DIR should be on a real disk (default: a fresh directory under
# build/); the fsync comparison reruns the small files under /dev/shm.
set -euo pipefail
build=${1:-build}
qrx=$(realpath "$build/cli/qrx")
work=${2:-$build/batch-bench}
files=${FILES:-1000}
rm -rf "$work"; mkdir -p "$work"; work=$(realpath "$work")
cd "$work"

# One 10 s type 2 stream made from the bundled sample, copied $files times.
"$qrx" decode -q "$OLDPWD/samples/hello.QRX" -o hello.wav
python3 - <<'PY'
import struct
d = open("hello.wav", "rb").read()
pcm = d[46:46 + 80000 * 2]
open("ten.raw", "wb").write(pcm)
h = b"RIFF" + struct.pack("<I", 36 + len(pcm)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16) + b"data" + struct.pack("<I", len(pcm))
open("ten.wav", "wb").write(h + pcm)
PY
"$qrx" encode -q -t 2 ten.wav -o ten.QRX
mkdir -p long short
for i in $(seq -w 1 "$files"); do cp ten.QRX "long/f$i.QRX"; done
head -c $((16 + 24)) ten.QRX > one.QRX
for i in $(seq -w 1 "$files"); do cp one.QRX "short/f$i.QRX"; done
audio_s=$((files * 10))

# run LABEL ARGS...: wall and CPU seconds of one qrx run.
run() {
  local label=$1; shift
  rm -rf out
  local t; t=$( { /usr/bin/time -f "%e %U %S" "$qrx" "$@" -q -y 2>&1 >/dev/null; } | tail -1)
  read -r wall user sys <<<"$t"
  echo "$label $wall $user $sys"
}

report() {  # label wall user sys audio_seconds nfiles
  awk -v l="$1" -v w="$2" -v u="$3" -v s="$4" -v a="$5" -v n="$6" 'BEGIN {
    printf "%-28s wall %7.2f s  cpu %7.2f s  %8.1f files/s  %6.2f audio h/s  realtime x%.0f (per CPU s)\n",
      l, w, u + s, n / w, a / 3600 / w, a / (u + s) }'
}

echo "== $files files of 10 s, type 2, decode to WAV"
read -r _ w1 u1 s1 <<<"$(run j1 decode -r long -O out -j 1)"; report "-j 1" "$w1" "$u1" "$s1" $audio_s "$files"
read -r _ w2 u2 s2 <<<"$(run j2 decode -r long -O out -j 2)"; report "-j 2" "$w2" "$u2" "$s2" $audio_s "$files"
awk -v a="$w1" -v b="$w2" 'BEGIN { printf "-j 2 / -j 1 throughput: %.2fx\n", a / b }'

echo "== output formats, -j 1, $files x 10 s"
read -r _ w u s <<<"$(run flac decode -r long -O out -j 1 --format flac)"; report "FLAC" "$w" "$u" "$s" $audio_s "$files"
read -r _ w u s <<<"$(run r48 decode -r long -O out -j 1 --rate 48000)"; report "WAV resampled to 48 kHz" "$w" "$u" "$s" $audio_s "$files"
read -r _ w u s <<<"$(run r16f decode -r long -O out -j 1 --rate 16000 --format flac)"; report "FLAC resampled to 16 kHz" "$w" "$u" "$s" $audio_s "$files"

echo "== per-file overhead: $files files of one frame, -j 1"
read -r _ w u s <<<"$(run short decode -r short -O out -j 1)"
awk -v w="$w" -v n="$files" 'BEGIN { printf "on disk (%s): %.3f ms per file\n", ENVIRON["PWD"], w * 1000 / n }'
shm=$(mktemp -d /dev/shm/qrx-bench.XXXXXX)
cp -r short "$shm/"
( cd "$shm" && read -r _ w2 u s <<<"$(run short decode -r short -O out -j 1)" &&
  awk -v w="$w2" -v n="$files" 'BEGIN { printf "on tmpfs (fsync free): %.3f ms per file\n", w * 1000 / n }' &&
  awk -v a="$w" -v b="$w2" -v n="$files" 'BEGIN { printf "flush to disk (fsync file + directory): %.3f ms per file\n", (a - b) * 1000 / n }' )
rm -rf "$shm"
cd / && rm -rf "$work"
