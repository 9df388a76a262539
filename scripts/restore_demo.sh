#!/usr/bin/env bash
# Shows that the player's own names survive runs killed part-way: a music
# folder of numbered and unnumbered songs gets RUNS runs of
# "/UNIQUE /KEEPNAMES /NOLAUNCH", each killed (SIGKILL) after a random short
# delay, then one "/RESTORE /NOLAUNCH"; every song must then have the name
# it had before the first run. Done with the Linux program and with
# Shuffler.exe under Wine, each in a plain folder and on a FAT32 image
# (mounted with fusefat), where the order the image stores the music folder
# in (as "fatsort -l" reads it) must be the names' order, ASCII letter case
# aside.
#
#   scripts/restore_demo.sh [RUNS]      (RUNS defaults to 10)
#
# RESTORE_DEMO_PARTS picks parts (e.g. "linux/fat32 wine/dir"; all four by
# default); RESTORE_DEMO_KEEP=1 keeps the work folder (with each part's
# program output, the folders before and after, and the images) and names
# it at the end.
#
# A part whose tools or rights are missing is skipped with a "SKIPPED:"
# line. Exits non-zero when a part that ran did not give every name back or
# left the image in another order. Do not run it while the Windows tests or
# scripts/parity.sh use the same Wine prefix (build/windows/wineprefix).
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
repo=$PWD
runs=${1:-10}

# Numbered and unnumbered songs, created in this order (not the names'
# order). ASCII only: fusefat refuses other names. "zebra" and "Zulu" and
# "_Bonus" sort differently when letter case counts.
songs=(
  "07-Song.mp3" "01 - Intro.mp3" "2001-Odyssey.mp3" "Intro.mp3"
  "zebra.mp3" "02 - Sunrise.mp3" "Zulu.mp3" "10-Ten Years.mp3"
  "_Bonus Track.mp3" "03 - Highway.mp3" "a-ha Cover.mp3" "1999-Party.mp3"
  "Track.MP3" "99 Luftballons.mp3" "3-Ending.mp3" "Song - Live.mp3"
  "04 - Night Drive.mp3" "Ballad.mp3" "11-Eleven.mp3" "Outro.mp3"
  "07-Song (Reprise).mp3" "The End.mp3" "05 - Rain.mp3" "Overture.mp3"
  "Blues in E.mp3" "echo.mp3" "Moonlight.mp3" "Xylophone.mp3"
  "Hidden Track.mp3" "100-Hundred.mp3"
)

work=$(mktemp -d /tmp/restore-demo.XXXXXX)
mounted=()
used_wine=0
prefix=$repo/build/windows/wineprefix
wineserver=/usr/lib/wine/wineserver
[[ -x $wineserver ]] || wineserver=$(command -v wineserver || true)

# shellcheck disable=SC2317  # called by the trap
cleanup() {
  local mount
  for mount in "${mounted[@]}"; do
    timeout 30 umount "$mount" 2>/dev/null ||
      timeout 30 umount -l "$mount" 2>/dev/null || true
  done
  # The Wine server ends once the last Windows process has; one that does
  # not is ended.
  if ((used_wine)) && [[ -n $wineserver ]]; then
    WINEPREFIX=$prefix timeout 60 "$wineserver" -w 2>/dev/null ||
      WINEPREFIX=$prefix timeout 30 "$wineserver" -k 2>/dev/null || true
  fi
  if [[ ${RESTORE_DEMO_KEEP:-0} == 1 ]]; then
    echo "the work folder is kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

summary=()
failed=0
skip() {
  echo "SKIPPED: $*"
  summary+=("SKIPPED: $*")
}

# The programs, built when missing.
linux_program=$repo/build/linux/Shuffler
windows_program=$repo/build/windows/Shuffler.exe
{
  [[ -f build/linux/CMakeCache.txt ]] || cmake --preset linux
  cmake --build --preset linux -j2 --target Shuffler
} >"$work/build-linux.log" 2>&1 || linux_program=
if [[ -z $wineserver ]]; then
  windows_program=
elif ! {
  [[ -f build/windows/CMakeCache.txt ]] || cmake --preset windows
  cmake --build --preset windows -j2 --target Shuffler
} >"$work/build-windows.log" 2>&1; then
  windows_program=
fi

# Runs the program of `kind` (linux or wine) in the game folder `game` with
# the arguments that follow, in a process group of its own, in the
# background; its process id is left in `pid`.
start() {
  local kind=$1 game=$2
  shift 2
  if [[ $kind == linux ]]; then
    (cd "$game" && exec setsid ./Shuffler "$@") >>"$output" 2>&1 &
  else
    (cd "$game" && exec setsid "$repo/scripts/wine-run.sh" "$prefix" \
      "$game/Shuffler.exe" "$@") >>"$output" 2>&1 &
  fi
  pid=$!
}

# Microseconds on the clock.
clock() { echo "${EPOCHREALTIME/./}"; }

# Waits $1 microseconds without starting a process (a Linux run is over in
# a few milliseconds): up to 20 ms by watching the clock, longer by a read
# from a pipe that nothing is written to (a timed read wakes a few
# milliseconds late).
exec {never}<> <(:)
pause() {
  local until=$((${EPOCHREALTIME/./} + $1)) seconds
  if (($1 > 20000)); then
    printf -v seconds '%d.%06d' $((($1 - 10000) / 1000000)) \
      $((($1 - 10000) % 1000000))
    read -r -t "$seconds" -u "$never" || true
  fi
  while ((${EPOCHREALTIME/./} < until)); do :; done
}

# Waits, for at most `limit` seconds, until the run `pid` in `game` has
# moved `count` songs out into "temp" (where its mark is too); false when
# it ends first or the moves pass by unseen.
wait_for_moves() {
  local game=$1 count=$2 until=$((${EPOCHREALTIME/./} + $3 * 1000000))
  local -a inside
  while kill -0 "$pid" 2>/dev/null; do
    inside=("$game"/mp3/temp/*)
    ((${#inside[@]} <= count)) || return 0
    ((${EPOCHREALTIME/./} < until)) || return 1
  done
  return 1
}

# Runs the program to its end, for at most `limit` seconds; prints how long
# it took, in microseconds.
run_whole() {
  local kind=$1 game=$2 limit=$3
  shift 3
  local begin
  begin=$(clock)
  start "$kind" "$game" "$@"
  local until=$((begin + limit * 1000000))
  while kill -0 "$pid" 2>/dev/null; do
    if (($(clock) > until)); then
      kill -KILL -- "-$pid" 2>/dev/null || true
      echo "a run took over $limit s" >&2
      break
    fi
    pause 5000
  done
  wait "$pid" || true
  echo "$(($(clock) - begin))"
}

# Fills the music folder of `game` with the songs, each of its own size.
make_songs() {
  local game=$1 number=0 name
  mkdir -p "$game/mp3"
  for name in "${songs[@]}"; do
    head -c $((3000 + 97 * number++)) /dev/urandom >"$game/mp3/$name"
  done
}

# Each song's name and checksum, sorted by checksum.
fingerprint() {
  (cd "$1/mp3" && find . -maxdepth 1 -type f -printf '%f\n' |
    while IFS= read -r name; do
      printf '%s\t%s\n' "$(md5sum <"$name" | cut -c1-32)" "$name"
    done | sort)
}

# The names sorted as a restore re-creates them: ASCII letters in upper
# case first, then by the names as they are.
name_order() {
  python3 -c '
import sys
names = [line.rstrip("\n") for line in sys.stdin if line.strip()]
key = lambda n: ("".join(c.upper() if c.isascii() else c for c in n), n)
print("\n".join(sorted(names, key=key)))'
}

# One part: the killed runs and the restore with the program of `kind`, in
# a plain folder (`place` dir) or on a FAT32 image (fat32).
part() {
  local kind=$1 place=$2 label="$1/$2"
  local base=$work/$kind-$place game image=
  mkdir -p "$base"
  output=$work/$kind-$place.output
  if [[ $place == fat32 ]]; then
    image=$base/image
    truncate -s 64M "$image"
    mkfs.vfat -F 32 "$image" >/dev/null
    mkdir "$base/mounted"
    timeout 60 fusefat -o rw+ "$image" "$base/mounted" >/dev/null 2>&1
    mounted+=("$base/mounted")
    local tries=0
    until mountpoint -q "$base/mounted"; do
      ((tries++ < 100)) || { echo "$label: the image did not mount" >&2; return 1; }
      sleep 0.1
    done
    base=$base/mounted
  fi
  local program=$linux_program
  [[ $kind == linux ]] || program=$windows_program
  [[ $kind == linux ]] || used_wine=1

  # How long a whole run takes here (the second one: the first starts Wine).
  make_songs "$base/calibration"
  cp "$program" "$base/calibration/Shuffler${program##*/Shuffler}"
  run_whole "$kind" "$base/calibration" 120 /UNIQUE /KEEPNAMES /NOLAUNCH >/dev/null
  local span
  span=$(run_whole "$kind" "$base/calibration" 120 /UNIQUE /KEEPNAMES /NOLAUNCH)
  rm -rf "$base/calibration"

  game=$base/game
  make_songs "$game"
  cp "$program" "$game/Shuffler${program##*/Shuffler}"
  fingerprint "$game" >"$work/$kind-$place.before"

  # Every third run is cut at a random moment of the whole run (the names
  # file may be being written then); the others in their moves, once a
  # random number of songs is in "temp".
  local run killed=0 cut=0
  for ((run = 1; run <= runs; run++)); do
    start "$kind" "$game" /UNIQUE /KEEPNAMES /NOLAUNCH
    if ((run % 3 == 0)); then
      pause $(((RANDOM * 32768 + RANDOM) % (span + 1)))
    else
      wait_for_moves "$game" $((1 + RANDOM % ${#songs[@]})) 120 || true
    fi
    if kill -KILL -- "-$pid" 2>/dev/null; then
      ((++killed))
    fi
    wait "$pid" 2>/dev/null || true
    local waited=0
    while kill -0 -- "-$pid" 2>/dev/null; do
      ((waited++ < 500)) || { echo "$label: run $run lingers" >&2; return 1; }
      sleep 0.01
    done
    # Cut between the moves out and back: "temp" still holds the mark.
    [[ -d "$game/mp3/temp/Shuffler is moving files" ]] && ((++cut))
  done
  run_whole "$kind" "$game" 300 /RESTORE /NOLAUNCH >/dev/null
  fingerprint "$game" >"$work/$kind-$place.after"

  local back=0 count=${#songs[@]} line
  while IFS= read -r line; do
    grep -qxF -- "$line" "$work/$kind-$place.after" && ((++back))
  done <"$work/$kind-$place.before"
  local leftover=no
  [[ -e "$game/mp3/temp" ]] && leftover=yes
  # More records than songs: a run took a renamed song for a new one.
  local records=0
  [[ -f $game/Shuffler.names ]] &&
    records=$(($(grep -c . "$game/Shuffler.names") - 2))

  local order=
  if [[ -n $image ]]; then
    timeout 60 umount "$base"
    mounted=("${mounted[@]/$base/}")
    fatsort -l "$image" 2>/dev/null |
      awk '$0 == "/game/mp3/" { on = 1; next } on && $0 == "" { exit } on' \
        >"$work/stored"
    name_order <"$work/stored" >"$work/sorted"
    if cmp -s "$work/stored" "$work/sorted" &&
      [[ $(wc -l <"$work/stored") -eq $count ]]; then
      order=", fatsort order == name order: yes"
    else
      order=", fatsort order == name order: NO"
      failed=1
      paste "$work/stored" "$work/sorted" | sed "s|^|$label stored/sorted: |" >&2
    fi
  fi
  ((back == count)) && [[ $leftover == no ]] || failed=1
  # Boxes show on standard error on Linux only.
  local boxes=
  [[ $kind == wine ]] ||
    boxes=", boxes $(grep -cE '^(Error|Shuffler): ' "$output" || true)"
  summary+=("$label: runs $runs, killed $killed, killed mid-work $cut, songs $count, own name back $back, records $records, temp left $leftover$boxes$order (a whole run: $((span / 1000)) ms)")
  echo "${summary[-1]}"
}

can_mount=
if ((EUID != 0)); then
  can_mount="mounting needs the superuser"
elif [[ ! -w /dev/fuse ]]; then
  can_mount="no /dev/fuse"
else
  for tool in mkfs.vfat fusefat fatsort mountpoint; do
    command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin:/sbin
    command -v "$tool" >/dev/null || can_mount="no $tool"
  done
fi

for kind in linux wine; do
  if [[ $kind == linux && -z $linux_program ]]; then
    skip "linux: the Linux program cannot be built (see the build log)"
    continue
  fi
  if [[ $kind == wine && -z $windows_program ]]; then
    skip "wine: no Wine, or Shuffler.exe cannot be built"
    continue
  fi
  wanted() { [[ " ${RESTORE_DEMO_PARTS:-$kind/dir $kind/fat32} " == *" $1 "* ]]; }
  if wanted "$kind/dir"; then part "$kind" dir; fi
  if ! wanted "$kind/fat32"; then
    :
  elif [[ -n $can_mount ]]; then
    skip "$kind/fat32: $can_mount"
  else
    part "$kind" fat32
  fi
done

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $failed
