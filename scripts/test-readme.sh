#!/usr/bin/env bash
# Runs the commands the README shows in its ```sh blocks, so that none of
# them goes stale: each qrx line (with the built qrx in place of `qrx`), and
# the built examples and Python module, in a scratch folder holding copies
# of samples/ and the few files the examples name, made from the samples.
# A line that cannot run here is skipped and listed with its reason; a line
# ending in "# readme-test: skip" is skipped too. Any command that fails
# fails the test.
#   scripts/test-readme.sh path/to/qrx [build-dir]    (build-dir: default the qrx's ../..)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 path/to/qrx [build-dir]" >&2; exit 2; }
QRX=$(realpath "$1")
build=$(realpath "${2:-$(dirname "$QRX")/..}")
export QRX
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Why a line is not run, or nothing when it runs. $1 is the whole command
# (continuation lines joined).
skip_reason() {
  local line=$1
  case "$line" in
    *'# readme-test: skip'*) echo "marked in the README"; return ;;
    scripts/*) echo "a project script: builds, or runs the whole CI"; return ;;
    cmake* | sudo\ cmake* | pip\ * | python3\ -m\ build*) echo "builds or installs the project"; return ;;
    build/convertor/*) echo "the desktop converter: needs a display"; return ;;
    cc\ *) echo "compiles against an installed qrxc (pkg-config); the built examples run instead"; return ;;
    gst-*) echo "GStreamer: needs the installed plugin, a sound device or the network"; return ;;
    ffmpeg\ *) echo "not a qrx command (ffmpeg)"; return ;;
    ls\ *parallel* | sbatch\ * | python3\ examples/dask_decode.py*)
      echo "a cluster recipe: scripts/test-recipes.sh runs it on this machine"; return ;;
    *' --stream 1a2b3c4d'*) echo "names a stream of the reader's own capture"; return ;;
    ./decode_to_raw\ * | ./encode_raw\ *) [ -e "${line%% *}" ] || { echo "the examples are not built"; return; } ;;
    PYTHONPATH=build/python\ *) [ -d "$build/python/qrxc" ] || { echo "the Python module is not built"; return; } ;;
  esac
  case "$line" in
    qrx\ * | ./decode_to_raw\ * | ./encode_raw\ * | PYTHONPATH=build/python\ *) ;;
    *) echo "not a qrx command"; return ;;
  esac
  # Synopses: options in brackets, alternatives, placeholders in capitals.
  if grep -Eq '\[|\|| \.\.\.|(^| )(FILE|IN|OUT|TYPE|N|CODE|F|HZ)([. ]|$)' <<<"${line%%#*}"; then
    echo "a synopsis with placeholders"
  fi
}

# Each ```sh block's commands, one a line: comments and blank lines dropped,
# continuation lines joined.
commands() {
  awk '
    /^```sh$/ { inside = 1; next }
    /^```/ { inside = 0; next }
    !inside { next }
    /^[[:space:]]*(#|$)/ && cont == "" { next }
    {
      line = cont $0
      if (line ~ /\\$/) { sub(/\\$/, "", line); cont = line; next }
      cont = ""
      print line
    }' "$root/README.md"
}

# The scratch folder: the samples, and the inputs the examples name.
cd "$work"
cp "$root"/samples/*.QRX .
mkdir recordings takes
cp "$root"/samples/*.QRX recordings/
"$QRX" decode -q hello-g723-63.QRX -o speech.wav
for f in "$root"/samples/*.QRX; do "$QRX" decode -q "$f" -o "takes/$(basename "${f%.QRX}").wav"; done
"$QRX" export -q hello-g723-53.QRX -o call.g723
"$QRX" export -q hello-g723-63.QRX --pcap call.pcap
cp hello.QRX msg01.QRX
# One rate byte a frame, switching every ten frames.
frames=$("$QRX" info --json hello-g723-63.QRX | sed -n 's/.*"frames": *\([0-9]*\).*/\1/p' | head -1)
for ((i = 0; i < frames; i++)); do if (((i / 10) % 2)); then printf '\001'; else printf '\000'; fi; done > rates.bin
for e in decode_to_raw encode_raw; do [ ! -x "$build/examples/$e" ] || ln -s "$build/examples/$e" .; done

ran=0 skipped=0 failed=0
while IFS= read -r line; do
  reason=$(skip_reason "$line")
  if [ -n "$reason" ]; then
    printf 'skipped (%s): %s\n' "$reason" "$line"
    skipped=$((skipped + 1))
    continue
  fi
  case "$line" in
    qrx\ *) run="\"\$QRX\"${line#qrx}" ;;
    PYTHONPATH=build/python\ *) run="PYTHONPATH=\"$build/python\"${line#PYTHONPATH=build/python}" ;;
    *) run=$line ;;
  esac
  if out=$(bash -c "set -e; $run" 2>&1 </dev/null); then
    printf 'ran: %s\n' "$line"
    ran=$((ran + 1))
  else
    printf 'FAILED (exit %s): %s\n%s\n' "$?" "$line" "$out" | sed '2,$s/^/    /'
    failed=$((failed + 1))
  fi
done < <(commands)

echo "test-readme: $ran ran, $skipped skipped, $failed failed"
[ "$ran" -gt 0 ] && [ "$failed" -eq 0 ]
