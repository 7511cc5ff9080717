#!/usr/bin/env bash
# A campaign of RUNS executions per fuzz target (default one million), one
# target after another, each on a scratch copy of its committed corpus so
# that fuzz/corpus/ stays as it is (scripts/fuzz.sh is the one that grows
# it). Prints one line per target: executions, exec/s, wall seconds, new
# inputs, coverage, and whether anything was found.
# usage: scripts/fuzz-campaign.sh [RUNS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=fuzz/common.sh
source fuzz/common.sh
runs=${1:-1000000}
shift || true
fuzz_build

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
found=0
# stat NAME: libFuzzer's final statistic NAME from the target's log.
stat() { sed -n "s/^stat::$1: *//p" "$log"; }
printf '%-20s %10s %8s %7s %6s %6s %s\n' target executions exec/s wall new cov result
for t in "${targets[@]}"; do
  fuzz_dict "$t"
  mkdir -p "$scratch/$t" "$build/artifacts"
  log=$build/campaign-$t.log
  start=$(date +%s)
  # -close_fd_mask=1: the speed control's diagnostics would flood the log.
  rc=0
  "$build/fuzz/$t" -runs="$runs" -print_final_stats=1 -close_fd_mask=1 -timeout=10 \
    -artifact_prefix="$build/artifacts/$t-" "${dict[@]}" "$scratch/$t" "fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  wall=$(($(date +%s) - start))
  cov=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
  result=clean
  if [ "$rc" -ne 0 ]; then
    result="FOUND (see $log)"
    found=1
  fi
  printf '%-20s %10s %8s %6ss %6s %6s %s\n' "$t" "$(stat number_of_executed_units)" "$(stat average_exec_per_sec)" \
    "$wall" "$(stat new_units_added)" "${cov:-?}" "$result"
done
exit "$found"
