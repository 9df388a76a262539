#!/usr/bin/env bash
# Builds the fuzz targets (the "fuzz" preset) and runs each from its seed
# corpus in fuzz/corpus for a bounded time, both at once. Exits non-zero when
# a target finds a crash, a sanitizer report or a broken invariant.
#
#   scripts/fuzz.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
targets=(argument_text entry_name)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
pids=()
for target in "${targets[@]}"; do
  # New inputs go to build/fuzz/corpus; the committed seeds stay as they are.
  work=build/fuzz/corpus/$target
  mkdir -p "$work" build/fuzz/artifacts
  build/fuzz/fuzz/${target}_fuzzer "$work" "fuzz/corpus/$target" \
    -dict="fuzz/$target.dict" -max_total_time="$seconds" -max_len=256 \
    -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/artifacts/$target-" \
    >"build/fuzz/$target.log" 2>&1 &
  pids+=($!)
done

passed=0
failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' \
      "build/fuzz/$target.log")
    echo "fuzz $target: ${runs:-?} inputs in ${seconds} s, nothing found"
    passed=$((passed + 1))
  else
    echo "fuzz $target: FAILED (build/fuzz/$target.log):"
    grep -E -A12 "invariant broken|ERROR: |runtime error|SUMMARY" \
      "build/fuzz/$target.log" | head -60 || tail -40 "build/fuzz/$target.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
