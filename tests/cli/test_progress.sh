#!/usr/bin/env bash
# Progress lines: every long-running command draws one on a terminal and
# clears it at the end; nothing with -q, nothing when stderr is not a terminal.
# Usage: test_progress.sh QRX SAMPLE.QRX
set -u
qrx=$(realpath "$1")
sample=$(realpath "$2")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
"$qrx" decode -q "$sample" -o one.wav
# A few minutes of speech, so that every command draws more than its last line.
python3 - <<'PY'
import wave
with wave.open("one.wav") as one:
    params, frames = one.getparams(), one.readframes(one.getnframes())
with wave.open("long.wav", "wb") as out:
    out.setparams(params)
    out.writeframes(frames * 12)
PY
"$qrx" encode -q -t 2 long.wav -o long.QRX
"$qrx" export -q long.QRX -o long.g723
fails=0
# command | the word its line shows
while IFS='|' read -r args word; do
    # script gives the command a terminal; its output is what the terminal saw.
    seen=$(script -qec "$qrx $args -y" /dev/null </dev/null)
    if ! grep -q "$word *[0-9]*%" <<<"$seen"; then
        printf 'FAIL: qrx %s drew no "%s NN%%" line on a terminal\n' "$args" "$word"
        fails=$((fails + 1))
    fi
    quiet=$(script -qec "$qrx $args -y -q" /dev/null </dev/null)
    piped=$("$qrx" $args -y 2>&1 >/dev/null </dev/null)
    for out in "$quiet" "$piped"; do
        if grep -q '[0-9]%' <<<"$out"; then
            printf 'FAIL: qrx %s drew progress with -q or without a terminal: %q\n' "$args" "$out"
            fails=$((fails + 1))
        fi
    done
done <<'CASES'
encode -t 2 long.wav -o again.QRX|encoding
speed --level 2 long.QRX -o fast.wav|playing
export long.QRX -o again.g723|exporting
import long.g723 -o back.QRX|importing
CASES
exit $((fails > 0))
