#!/usr/bin/env bash
# Builds Shuffler and runs every test; exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== format"
scripts/format.sh --check

# Linux first, then the Windows cross build with its tests under Wine
# (SHUFFLER_WINDOWS=0 leaves it out, as it does in setup.sh).
presets=(linux)
[[ "${SHUFFLER_WINDOWS:-1}" == 1 ]] && presets+=(windows)

for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
