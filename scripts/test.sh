#!/usr/bin/env bash
# Builds Shuffler and runs every test; exits non-zero when any test fails.
#
# The format check; the native build and its tests; the Windows cross build
# with its tests under Wine; the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer; the parity of the Linux and Windows programs;
# then the fuzz targets for a bounded time; last the release archives
# (tests/release_test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== format"
scripts/format.sh --check

# Linux first, then the Windows cross build with its tests under Wine
# (SHUFFLER_WINDOWS=0 leaves it out, as it does in setup.sh), then Linux
# under the sanitizers.
presets=(linux)
[[ "${SHUFFLER_WINDOWS:-1}" == 1 ]] && presets+=(windows)
presets+=(linux-asan)

for preset in "${presets[@]}"; do
  echo "== $preset"
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  # What the fault sweep, the crash trials and the overflow run covered.
  grep -h '^\[ \(sweep\|crash\|overflow\) ' \
    "build/$preset/Testing/Temporary/LastTest.log" || true
  # Skipped tests (no FUSE, not the superuser...) must not pass unseen.
  skipped=$(grep -h '^\[  SKIPPED \] [^ ]*\.' \
    "build/$preset/Testing/Temporary/LastTest.log" | sed 's/ (.*//' |
    sort -u || true)
  if [[ -n "$skipped" ]]; then
    echo "!! SKIPPED on $preset: $(wc -l <<<"$skipped") test(s) did not run:"
    echo "$skipped"
    grep -h 'SKIPPED: ' "build/$preset/Testing/Temporary/LastTest.log" |
      sort -u || true
  fi
  echo "== $preset: $((SECONDS - start)) s"
done

# Both real programs, the same scenarios, the same boxes and folders.
if [[ "${SHUFFLER_WINDOWS:-1}" == 1 ]]; then
  echo "== parity"
  scripts/parity.sh
fi

echo "== fuzz"
start=$SECONDS
scripts/fuzz.sh "${SHUFFLER_FUZZ_SECONDS:-20}"
echo "== fuzz: $((SECONDS - start)) s"

# The release, built twice from clean clones of the last commit and
# compared, and its Windows program run under Wine (it needs the Windows
# tools, so SHUFFLER_WINDOWS=0 leaves it out).
if [[ "${SHUFFLER_WINDOWS:-1}" == 1 ]]; then
  echo "== release"
  start=$SECONDS
  tests/release_test.sh
  echo "== release: $((SECONDS - start)) s"
fi
