#!/usr/bin/env bash
# Builds Shuffler and runs every test; exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== format"
scripts/format.sh --check

for preset in linux; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
