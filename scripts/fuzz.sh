#!/usr/bin/env bash
# Runs every fuzz target for SECONDS (default 60) each, one after another,
# on its committed corpus plus a working corpus kept in build-fuzz/, then
# merges what it found back into fuzz/corpus/<target>/ keeping only inputs
# that add coverage. Builds the fuzz tree if needed.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=fuzz/common.sh
source fuzz/common.sh
seconds=${1:-60}
shift || true
fuzz_build

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
for t in "${targets[@]}"; do
  bin=$build/fuzz/$t
  corpus=fuzz/corpus/$t
  work=$build/corpus/$t
  mkdir -p "$corpus" "$work" "$build/artifacts"
  fuzz_dict "$t"
  echo "== $t: ${seconds}s"
  # -close_fd_mask=1: the speed control's diagnostics would flood the log.
  "$bin" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=1 -timeout=10 \
    -artifact_prefix="$build/artifacts/$t-" "${dict[@]}" "$work" "$corpus" 2>&1 |
    grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec|ERROR|SUMMARY|Test unit written' || true
  # Minimise: a fresh directory gets only the inputs that add coverage.
  merged=$(mktemp -d "$build/merge-XXXXXX")
  "$bin" -merge=1 -close_fd_mask=1 "$merged" "$corpus" "$work" >/dev/null 2>&1
  rm -rf "$corpus"
  mv "$merged" "$corpus"
  chmod 755 "$corpus"
  echo "   corpus: $(find "$corpus" -type f | wc -l) files, $(du -sk "$corpus" | cut -f1) KiB"
done
if ls "$build"/artifacts/* >/dev/null 2>&1; then
  echo "findings in $build/artifacts/"
  exit 1
fi
