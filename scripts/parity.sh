#!/usr/bin/env bash
# Runs the same scenarios through the Linux program and through Shuffler.exe
# under Wine, and compares their boxes, folders and logs
# (tests/parity/parity.py). Builds both programs first when needed; the
# Wine prefix is the one the Windows tests use.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in linux windows; do
  [[ -f build/$preset/CMakeCache.txt ]] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Shuffler >/dev/null
done
status=0
timeout 900 python3 tests/parity/parity.py build/linux/Shuffler \
  build/windows/Shuffler.exe build/windows/wineprefix || status=$?
# Wait for this prefix's Wine server to end, so that nothing is left running.
wineserver=/usr/lib/wine/wineserver
[[ -x $wineserver ]] || wineserver=$(command -v wineserver || true)
if [[ -n "$wineserver" ]]; then
  WINEPREFIX=$PWD/build/windows/wineprefix timeout 60 "$wineserver" -w || true
fi
exit $status
