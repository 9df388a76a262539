#!/usr/bin/env bash
# Builds Shuffler and shows it at work on a sample game folder under
# build/demo/: the music folder before and after each run, in the folder's
# own order (as "ls -U" lists it, the order the shuffle renews) next to the
# names sorted; the rename log; the stand-in game it starts; a /UNIQUE run;
# and a launch that fails, naming the missing program.
set -euo pipefail
cd "$(dirname "$0")/.."

SHUFFLER_WINDOWS=0 scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target Shuffler >/dev/null

game=build/demo/game
rm -rf build/demo
mkdir -p "$game/mp3"
cp build/linux/Shuffler "$game/"
for name in "07-Song.mp3" "Intro.mp3" "2001-Odyssey.mp3" "Song - Live.mp3" \
            "03-Ending.mp3" "Café del Mar.mp3" "MP3Report.txt"; do
  echo "$name" > "$game/mp3/$name"
done
# A stand-in for the game: it notes when it starts and what it finds.
cat > "$game/gta3.exe" <<'GAME'
#!/bin/sh
cd "$(dirname "$0")"
{ echo "game started, music folder:"; ls -1 mp3; } > game-started.txt
GAME
chmod +x "$game/gta3.exe"

# The folder's own order on the left, the names sorted on the right.
show() {
  echo "-- $1  (left: the order the file system lists the folder in)"
  (cd "$game/mp3" &&
    paste <(ls -1 -U --quoting-style=literal) <(ls -1 --quoting-style=literal) |
    awk -F '\t' 'BEGIN { printf "   %-28s %s\n", "folder order (ls -U)", "sorted (ls)" }
                  { printf "   %-28s %s\n", $1, $2 }')
  echo
}
wait_for_game() {
  for _ in $(seq 50); do [[ -s "$game/game-started.txt" ]] && break; sleep 0.1; done
}

show "music folder before"

echo "== Shuffler /DEBUG"
(cd "$game" && ./Shuffler /DEBUG)
wait_for_game
show "music folder after"
echo "-- Shuffler.log (Windows-1252, shown as UTF-8)"
iconv -f WINDOWS-1252 -t UTF-8 "$game/Shuffler.log" | tr -d '\r'
echo
echo "-- what the game saw when it started"
cat "$game/game-started.txt"
rm "$game/game-started.txt"
echo

echo "== Shuffler /DENUM /NOLAUNCH   (remove the number prefixes, start nothing)"
(cd "$game" && ./Shuffler /DENUM /NOLAUNCH)
show "music folder after"

echo "== Shuffler /UNIQUE /NOLAUNCH   (numbers 1 to the count, each once)"
(cd "$game" && ./Shuffler /UNIQUE /NOLAUNCH)
show "music folder after"

echo "== Shuffler /LAUNCH missing.exe   (a failure is reported, the run goes on)"
echo "   missing.exe is not in $game: the shuffle is done, then the launch fails"
(cd "$game" && ./Shuffler /LAUNCH missing.exe 2>&1) || true
show "music folder after"
echo "The sample game folder is $game."
