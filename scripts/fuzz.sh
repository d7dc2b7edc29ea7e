#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for a bounded time, seeded with the corpus in tests/fuzz/corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 60 seconds, every target)
# Prints the executions each target made and what it found; inputs that fail are kept in
# build/fuzz/findings/TARGET and make the script exit with 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-60}}
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(attached_data runtime_spec command_line pack_readers)

compiler=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$compiler" ]; then
  echo "fuzz: clang++ not found; scripts/setup.sh installs it" >&2
  exit 2
fi

build=build/fuzz
CXX=$compiler cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSVARI_FUZZ_WITH_LIBFUZZER=ON >/dev/null
cmake --build "$build" >/dev/null

status=0
for target in "${targets[@]}"; do
  # The fuzzer adds what it learns to a working copy; the corpus in tests/ stays as committed.
  work=$build/corpus/$target
  findings=$build/findings/$target
  mkdir -p "$work" "$findings"
  cp -n tests/fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
  log=$build/$target.log
  set +e
  "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" >"$log" 2>&1
  code=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  if [ "$code" -eq 0 ] && [ "$found" -eq 0 ]; then
    echo "fuzz $target: ${runs:-?} executions in ${seconds} s, nothing found"
  else
    status=1
    echo "fuzz $target: ${runs:-?} executions, FOUND $found failing input(s) in $findings (exit $code)"
    grep -E "ERROR: |SUMMARY: |runtime error: " "$log" | head -5 | sed 's/^/  /'
  fi
done
exit "$status"
