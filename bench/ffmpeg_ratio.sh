#!/usr/bin/env bash
# qrx against FFmpeg's G.723.1 on the same speech, one core, CPU seconds:
# decode at 5.3 and 6.3 kbit/s and encode at 6.3 kbit/s (FFmpeg has no 5.3
# kbit/s encoder; qrx's is timed alone), the two tools run alternately so
# that a busy machine slows both alike. Prints min/median/max per tool and
# the ratio of the medians, then instructions per frame (callgrind, when
# valgrind is installed) and the WebAssembly module's realtime factors in
# node (when build/web exists).
#   bench/ffmpeg_ratio.sh [BUILD_DIR] [RUNS]
# QRXC_CPU=generic|sse2|avx2 picks qrx's kernel set; NO_WEB=1 leaves out node.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
runs=${2:-9}
qrx="$build/cli/qrx"
work="$build/ffmpeg-ratio"
seconds=600
mkdir -p "$work"
cd "$work"

# 600 s of synthetic speech at 8 kHz, made once.
if [ ! -f speech.wav ]; then
  python3 - >text.txt <<'PY'
import random
random.seed(7)
words = ("the quick brown fox jumps over a lazy dog while seven hungry cats watch from under an old "
         "wooden table near the window and someone calls again about the meeting tomorrow morning").split()
for _ in range(400):
    print(" ".join(random.choice(words) for _ in range(random.randint(6, 14))) + ".")
PY
  espeak-ng -f text.txt -s 160 -w long.wav
  sox long.wav -r 8000 -c 1 -b 16 -e signed-integer speech.wav trim 0 "$seconds"
  sox speech.wav -t raw speech.raw
  rm -f long.wav
fi
for t in 1 2; do
  "$qrx" encode -q -y -t "$t" speech.wav -o "t$t.QRX"
  "$qrx" encode -q -y -t "$t" --output-format g723 speech.wav -o "t$t.g723"
done

# cpu CMD...: user + system seconds of one run, to the microsecond (time(1)
# prints hundredths, too coarse for a decode of a tenth of a second). The
# tool is started by posix_spawn: a forked Python child pays some 6 ms of
# copy-on-write faults before its exec, and that would count against both.
cpu() {
  python3 -c '
import os, sys
null = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, os.O_WRONLY, 0) for fd in (1, 2)]
pid = os.posix_spawnp(sys.argv[1], sys.argv[1:], os.environ, file_actions=null)
_, status, use = os.wait4(pid, 0)
print("%.4f" % (use.ru_utime + use.ru_stime))
sys.exit(os.waitstatus_to_exitcode(status))' "$@"
}
stats() { sort -g | awk '{ v[NR] = $1 } END { printf "%.4f %.4f %.4f", v[1], v[int((NR + 1) / 2)], v[NR] }'; }

# compare LABEL "QRX CMD" "FFMPEG CMD"
compare() {
  local label=$1 a=$2 b=$3 qa=() fa=()
  for _ in $(seq "$runs"); do
    # The commands hold no quoting: split into words, run with no shell between.
    # shellcheck disable=SC2086
    qa+=("$(cpu $a)")
    # shellcheck disable=SC2086
    fa+=("$(cpu $b)")
  done
  read -r qmin qmed qmax <<<"$(printf '%s\n' "${qa[@]}" | stats)"
  read -r fmin fmed fmax <<<"$(printf '%s\n' "${fa[@]}" | stats)"
  printf '%-14s qrx %s/%s/%s s  ffmpeg %s/%s/%s s  ratio %.2fx  (qrx %.0fx realtime)\n' "$label" \
    "$qmin" "$qmed" "$qmax" "$fmin" "$fmed" "$fmax" "$(awk "BEGIN { print $fmed / $qmed }")" "$(awk "BEGIN { print $seconds / $qmed }")"
}

ff="ffmpeg -nostdin -v error -y"
echo "CPU seconds min/median/max of $runs alternating runs on ${seconds} s of speech (kernels: ${QRXC_CPU:-auto})"
compare "decode 5.3" "$qrx decode -q -y t1.QRX -o out.wav" "$ff -f g723_1 -i t1.g723 -f s16le out.raw"
compare "decode 6.3" "$qrx decode -q -y t2.QRX -o out.wav" "$ff -f g723_1 -i t2.g723 -f s16le out.raw"
compare "encode 6.3" "$qrx encode -q -y -t 2 speech.wav -o out.QRX" \
  "$ff -f s16le -ar 8000 -ac 1 -i speech.raw -c:a g723_1 -b:a 6300 -f g723_1 out.g723"
e53=()
for _ in $(seq "$runs"); do e53+=("$(cpu "$qrx" encode -q -y -t 1 speech.wav -o out.QRX)"); done
read -r emin emed emax <<<"$(printf '%s\n' "${e53[@]}" | stats)"
printf '%-14s qrx %s/%s/%s s  (%.0fx realtime; no ffmpeg encoder)\n' "encode 5.3" "$emin" "$emed" "$emax" \
  "$(awk "BEGIN { print $seconds / $emed }")"

# Instructions per frame on the first 60 s (2000 frames), whole process.
if command -v valgrind >/dev/null; then
  sox speech.wav short.wav trim 0 60
  "$qrx" encode -q -y -t 1 short.wav -o s1.QRX
  "$qrx" encode -q -y -t 2 short.wav -o s2.QRX
  ir() {
    valgrind --tool=callgrind --callgrind-out-file=cg.out "$@" >/dev/null 2>cg.log
    awk '/^summary:/ { printf "%.0f", $2 / 2000 }' cg.out
  }
  echo "instructions per frame (callgrind, 60 s):" \
    "decode 5.3 $(ir "$qrx" decode -q -y s1.QRX -o o.wav)," \
    "decode 6.3 $(ir "$qrx" decode -q -y s2.QRX -o o.wav)," \
    "encode 5.3 $(ir "$qrx" encode -q -y -t 1 short.wav -o o.QRX)," \
    "encode 6.3 $(ir "$qrx" encode -q -y -t 2 short.wav -o o.QRX)"
fi

if [ -z "${NO_WEB:-}" ] && [ -f "$root/build/web/qrxc.mjs" ] && command -v node >/dev/null; then
  node "$root/bench/web_bench.mjs" --no-browser
fi
