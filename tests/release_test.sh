#!/usr/bin/env bash
# The release test, run by scripts/test.sh after the other tests (it builds
# the release twice, so it takes a minute or two):
#
# 1. clones the last commit twice, into folders of different names, and runs
#    scripts/release.sh in each; the two dist/ folders must be identical,
#    byte for byte, and SHA256SUMS must match the archives;
# 2. checks what the archives hold;
# 3. unpacks the zip into a sample game folder with the stand-in game as
#    gta3.exe, runs that Shuffler.exe /DEBUG under Wine, and checks that every
#    entry of mp3 got a number prefix with its contents intact, that nothing
#    failed, and that the game was started maximised.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
export LC_ALL=C

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

commit=$(git rev-parse HEAD)
if [[ -n "$(git status --porcelain --untracked-files=no)" ]]; then
  echo "release test: uncommitted changes are not tested, only $commit" >&2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/shuffler-release-test.XXXXXX")
prefix=$scratch/wineprefix
cleanup() {
  # Ends what is left of the Wine run in this prefix (the game, the server).
  local server
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  if [[ -d "$prefix" && -x "$server" ]]; then
    WINEPREFIX=$prefix timeout 30 "$server" -k 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# 1. Two clean clones, two releases, one result.
clones=("$scratch/first" "$scratch/second clone/elsewhere")
for clone in "${clones[@]}"; do
  start=$SECONDS
  git clone -q --shared --no-checkout "$checkout" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  (cd "$clone" && scripts/release.sh >release.log 2>&1) || {
    cat "$clone/release.log" >&2
    echo "FAIL: scripts/release.sh failed in $clone" >&2
    exit 1
  }
  echo "release in $clone: $((SECONDS - start)) s"
done
first=${clones[0]}/dist
second=${clones[1]}/dist

names=$(cd "$first" && ls)
[[ "$names" == "$(cd "$second" && ls)" ]] || fail "the two dist/ hold other files"
for name in $names; do
  cmp "$first/$name" "$second/$name" || fail "$name differs between the runs"
done
(cd "$first" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
zip=$(cd "$first" && ls Shuffler-*-windows-x64.zip)
tar=$(cd "$first" && ls Shuffler-*-linux-x64.tar.gz)
version=${zip#Shuffler-}
version=${version%-windows-x64.zip}
[[ "$(sed 's/^[0-9a-f]\{64\}  //' "$first/SHA256SUMS")" == "$zip"$'\n'"$tar" ]] \
  || fail "SHA256SUMS does not list exactly the two archives"
echo "dist/ identical in both clones:"
(cd "$first" && ls -l --time-style=+ "$zip" "$tar" && cat SHA256SUMS)

# 2. What the archives hold.
[[ "$(zipinfo -1 "$first/$zip")" == $'Shuffler.exe\nREADME.txt\nLICENSE.txt' ]] \
  || fail "$zip holds $(zipinfo -1 "$first/$zip" | tr '\n' ' ')"
folder=Shuffler-$version-linux-x64
[[ "$(tar -tzf "$first/$tar")" == \
   "$folder/"$'\n'"$folder/LICENSE"$'\n'"$folder/README.md"$'\n'"$folder/Shuffler" ]] \
  || fail "$tar holds $(tar -tzf "$first/$tar" | tr '\n' ' ')"

game=$scratch/game
mkdir -p "$game"
unzip -q "$first/$zip" -d "$game"
for text in README.txt LICENSE.txt; do
  # Every line ends with CR LF.
  if grep -q $'[^\r]$\|^$' "$game/$text"; then
    fail "$text has a line that does not end with CR LF"
  fi
done
# The quick start with its SmartScreen advice, the undo advice, and every
# line within 78 columns.
grep -q $'^Quick start on Windows\r$' "$game/README.txt" \
  || fail "README.txt lacks the quick start"
grep -q '"Run anyway"' "$game/README.txt" \
  || fail "README.txt lacks the SmartScreen advice"
grep -q $'^Undo and backups\r$' "$game/README.txt" \
  || fail "README.txt lacks the undo advice"
if grep -q $'^.\\{79,\\}\r$' "$game/README.txt"; then
  fail "README.txt has a line longer than 78 columns"
fi
if grep -q 'For developers\|scripts/' "$game/README.txt"; then
  fail "README.txt holds the developers' part"
fi
# What a player pastes is a line of its own, exactly as it is typed: no
# quoted span holds an option, "--", %command%, a double quote or a path.
text=$(tr -d '\r' <"$game/README.txt" | tr -s ' \n' '  ')
quoted=$(grep -oE "(^|[ (])'[^']+'" <<<"$text" |
  grep -E "/[A-Za-z]{4}|--|%command%|\"|'\.?/" || true)
[[ -z "$quoted" ]] || fail "README.txt quotes what is to be pasted: $quoted"
# The quick start's steps say that the first start shuffles, and name
# /LAUNCH, without which another game does not start, and /KEEPNAMES beside
# /UNIQUE in the shortcut, without which no name can be given back.
steps=$(tr -d '\r' <"$game/README.txt" |
  awk '/^Quick start on Windows$/ { on = 1 } on && /^[0-9]+\. / { steps = 1 }
       steps && /^[^ 0-9]/ { steps = on = 0 } steps' | tr -s ' \n' '  ')
grep -q '/LAUNCH' <<<"$steps" || fail "the quick start's steps lack /LAUNCH"
grep -q '/UNIQUE /KEEPNAMES' <<<"$steps" \
  || fail "the quick start's shortcut lacks /UNIQUE /KEEPNAMES"
grep -q 'first start [^.]*renames every song' <<<"$steps" \
  || fail "the quick start's steps do not say that the first start shuffles"
grep -q $'^MIT License\r$' "$game/LICENSE.txt" || fail "LICENSE.txt is not MIT"
LC_ALL=C grep -aPq "$(sed 's/./&\\x00/g' <<<"$version")" "$game/Shuffler.exe" \
  || fail "Shuffler.exe does not carry version $version"

tar -xzf "$first/$tar" -C "$scratch"
if readelf -l "$scratch/$folder/Shuffler" | grep -q 'program interpreter'; then
  fail "the Linux program is not static"
fi
[[ -z "$(readelf -S "$scratch/$folder/Shuffler" | grep '\.debug\|\.symtab')" ]] \
  || fail "the Linux program is not stripped"

# 3. The zip's Shuffler.exe at work, under Wine, on a sample game folder.
cmake --preset windows >/dev/null
cmake --build --preset windows --target stand_in_game >/dev/null
cp build/windows/tests/stand_in_game.exe "$game/gta3.exe"
mkdir "$game/mp3"
# Each file holds its name, and is expected under a number and its bare name.
declare -A bare=([07-Song.mp3]=Song.mp3 [Intro.mp3]=Intro.mp3
                 [2001-Odyssey.mp3]=Odyssey.mp3
                 ["Song - Live.mp3"]="Song - Live.mp3"
                 ["01 - Ending.mp3"]=" Ending.mp3")
for name in "${!bare[@]}" MP3Report.txt; do
  printf '%s' "$name" >"$game/mp3/$name"
done

start=$SECONDS
(cd "$game" && timeout 120 "$checkout/scripts/wine-run.sh" "$prefix" \
   "$game/Shuffler.exe" /DEBUG) || fail "Shuffler.exe ended with $?"
for _ in $(seq 200); do
  [[ -e "$game/started.txt" ]] && break
  sleep 0.1
done
echo "Shuffler.exe under Wine: $((SECONDS - start)) s (with a new Wine prefix)"

[[ "$(cat "$game/mp3/MP3Report.txt")" == MP3Report.txt ]] \
  || fail "MP3Report.txt was changed"
[[ ! -e "$game/mp3/temp" ]] || fail "mp3/temp was left behind"
seen=0
for path in "$game"/mp3/*; do
  entry=${path##*/}
  [[ "$entry" == MP3Report.txt ]] && continue
  seen=$((seen + 1))
  original=$(cat "$path")
  if [[ -z "${bare[$original]+set}" ]]; then
    fail "mp3/$entry holds \"$original\", which was no file"
  elif [[ ! "$entry" =~ ^[0-9]-(.*)$ || "${BASH_REMATCH[1]}" != "${bare[$original]}" ]]; then
    fail "$original became $entry"
  fi
done
[[ $seen -eq ${#bare[@]} ]] || fail "mp3 holds $seen entries, not ${#bare[@]}"
renamed=$(grep -c $'^Renamed ".*" to ".*"\r$' "$game/Shuffler.log" || true)
[[ "$renamed" -eq ${#bare[@]} ]] || fail "Shuffler.log holds $renamed renames"
if grep -q '\*\*\*' "$game/Shuffler.log"; then
  fail "Shuffler.log reports failures: $(grep '\*\*\*' "$game/Shuffler.log")"
fi
if [[ -e "$game/started.txt" ]]; then
  grep -q $'^show=3\r$' "$game/started.txt" \
    || fail "the game was not started maximised: $(cat "$game/started.txt")"
  grep -qi $'^command=".*\\\\gta3.exe"\r$' "$game/started.txt" \
    || fail "another program was started: $(cat "$game/started.txt")"
else
  fail "the game was not started"
fi

if [[ $failures -gt 0 ]]; then
  echo "release test: $failures check(s) failed" >&2
  exit 1
fi
echo "release test passed: both releases identical, the zip's Shuffler.exe" \
     "shuffled $seen entries under Wine and started the game"
