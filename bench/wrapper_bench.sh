#!/usr/bin/env bash
# How long a player waits for the game because of Shuffler: the Linux
# program as a launcher's wrapper ("Shuffler -- command") against
# Shuffler.exe under Wine, as Proton would run it, on the same folders.
#
#   bench/wrapper_bench.sh [--sizes=1000,10000] [--runs=5] [--wine-runs=3]
#
# For each size it makes one game folder with that many empty songs (named
# like "07-Track 0042.mp3") and times, as whole processes, alternating:
#   - "Shuffler -- /bin/true": the wrapper, then the stand-in game in its
#     process; less the time of "/bin/true" alone, that is what the wrapper
#     adds before the game starts;
#   - "Shuffler.exe /NOLAUNCH" under Wine (scripts/wine-run.sh, with the
#     Wine server kept running between runs, as it is while a launcher
#     runs): all of it comes before the game starts.
# It prints medians (and min..max) in milliseconds, and passes or fails
# nothing. The Linux program is the bench preset's (Release, static), the
# Windows one the windows preset's.
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=1000,10000
runs=5
wine_runs=3
for argument in "$@"; do
  case "$argument" in
    --sizes=*) sizes=${argument#*=} ;;
    --runs=*) runs=${argument#*=} ;;
    --wine-runs=*) wine_runs=${argument#*=} ;;
    *) echo "usage: $0 [--sizes=N,...] [--runs=N] [--wine-runs=N]" >&2
       exit 2 ;;
  esac
done

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target Shuffler >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target Shuffler >/dev/null
linux_program=$PWD/build/bench/Shuffler
windows_program=$PWD/build/windows/Shuffler.exe

scratch=$(mktemp -d "${TMPDIR:-/tmp}/shuffler-wrapper-bench-XXXXXX")
prefix=$scratch/wineprefix
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
cleanup() {
  WINEPREFIX=$prefix timeout 30 "$server" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# Milliseconds that the command "$@" takes, run in the game folder.
elapsed() {
  local start=$EPOCHREALTIME
  (cd "$game" && "$@" >/dev/null 2>>"$scratch/errors.txt")
  local end=$EPOCHREALTIME
  echo "(${end/./} - ${start/./}) / 1000" | bc -l
}

# "median min..max" of the numbers given, to one decimal.
summary() {
  printf '%s\n' "$@" | sort -g | awk '
    { v[NR] = $1 }
    END {
      m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%.1f %.1f..%.1f", m, v[1], v[NR]
    }'
}

# The first Wine run creates the prefix; the server then stays up.
mkdir -p "$scratch/empty/mp3"
cp "$windows_program" "$scratch/empty/"
game=$scratch/empty
scripts/wine-run.sh "$prefix" "$game/Shuffler.exe" /NOLAUNCH
WINEPREFIX=$prefix "$server" -p || true

echo "== $(nproc) cores, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p')," \
     "temporary folder on $(df -T "$scratch" | awk 'NR==2 {print $2}'), $(
     "$(command -v wine64 || echo /usr/lib/wine/wine64)" --version 2>/dev/null ||
     echo Wine)"
printf '%-8s %-24s %-24s %-24s %-24s\n' songs "Shuffler -- true" \
  "/bin/true" "wrapper adds" "Shuffler.exe under Wine"

for size in ${sizes//,/ }; do
  game=$scratch/game-$size
  mkdir -p "$game/mp3"
  cp "$linux_program" "$windows_program" "$game/"
  for ((i = 1; i <= size; i++)); do
    printf -v name '%02d-Track %04d.mp3' $((i % 100)) "$i"
    : >"$game/mp3/$name"
  done
  wrapper=() alone=() added=() wine=()
  for ((run = 1; run <= runs; run++)); do
    w=$(elapsed ./Shuffler -- /bin/true)
    a=$(elapsed /bin/true)
    wrapper+=("$w") alone+=("$a") added+=("$(echo "$w - $a" | bc -l)")
    if ((run <= wine_runs)); then
      wine+=("$(elapsed "$PWD/scripts/wine-run.sh" "$prefix" \
                "$game/Shuffler.exe" /NOLAUNCH)")
    fi
  done
  count=$(find "$game/mp3" -maxdepth 1 -type f | wc -l)
  [[ "$count" == "$size" ]] || echo "!! $count songs left of $size" >&2
  printf '%-8s %-24s %-24s %-24s %-24s\n' "$size" "$(summary "${wrapper[@]}")" \
    "$(summary "${alone[@]}")" "$(summary "${added[@]}")" \
    "$(summary "${wine[@]}")"
done

printf '%-8s %-24s\n' empty "Shuffler.exe under Wine, empty mp3:"
empty=()
for ((run = 1; run <= runs; run++)); do
  game=$scratch/empty
  empty+=("$(elapsed "$PWD/scripts/wine-run.sh" "$prefix" \
             "$game/Shuffler.exe" /NOLAUNCH)")
done
printf '%-8s %-24s\n' "" "$(summary "${empty[@]}")"
if [[ -s "$scratch/errors.txt" ]]; then
  echo "!! the runs wrote to standard error:" >&2
  head -5 "$scratch/errors.txt" >&2
fi
