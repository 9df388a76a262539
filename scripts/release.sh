#!/usr/bin/env bash
# Builds the release archives of the last commit into dist/:
#
#   Shuffler-<version>-windows-x64.zip     Shuffler.exe, README.txt, LICENSE.txt
#   Shuffler-<version>-linux-x64.tar.gz    Shuffler-<version>-linux-x64/ with
#                                          Shuffler, README.md, LICENSE
#   SHA256SUMS                             for "sha256sum -c SHA256SUMS"
#
# <version> is the project's version in CMakeLists.txt, the one the Windows
# version resource shows. Both programs are Release builds, stripped and
# linked statically.
#
# The archives depend on the commit alone: the same commit gives the same
# bytes in any folder, at any time. The source is exported from the commit
# (uncommitted changes are left out), the folder it is built in is mapped
# away (-ffile-prefix-map), the PE header gets no link time, and every
# archive entry gets the commit's time, a fixed mode, owner and order.
#
# Everything is built in a scratch folder under /tmp; only dist/ is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)

export LC_ALL=C TZ=UTC
umask 022
unset ZIPOPT ZIP GZIP

scripts/setup.sh
for tool in git cmake ninja x86_64-w64-mingw32-g++-posix zip gzip tar \
            sha256sum; do
  command -v "$tool" >/dev/null || {
    echo "release: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  }
done

if [[ -n "$(git status --porcelain --untracked-files=no)" ]]; then
  echo "release: uncommitted changes are not in the release, which is built" \
       "from the last commit" >&2
fi
commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

# Built in a scratch folder of its own: the compiler sees it as /shuffler,
# whatever the folder's name (a path with spaces could not be mapped).
work=$(mktemp -d /tmp/shuffler-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
rm -rf dist
mkdir -p "$work/src" dist
git archive --format=tar "$commit" | tar -x -C "$work/src"

# The release's own settings.
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DSHUFFLER_BUILD_TESTS=OFF
        -DSHUFFLER_WERROR=ON "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$work=/shuffler")

echo "== Windows"
cmake -S "$work/src" -B "$work/windows" "${common[@]}" \
  --toolchain "$work/src/cmake/mingw-w64.cmake" \
  "-DCMAKE_EXE_LINKER_FLAGS=-s -Wl,--no-insert-timestamp" >/dev/null
cmake --build "$work/windows" -j2 --target Shuffler

echo "== Linux"
cmake -S "$work/src" -B "$work/linux" "${common[@]}" \
  -DSHUFFLER_STATIC_PROGRAM=ON -DCMAKE_EXE_LINKER_FLAGS=-s >/dev/null
cmake --build "$work/linux" -j2 --target Shuffler

# The version as the Windows version resource states it.
version=$(sed -n 's/^ *VALUE "ProductVersion", "\([^"]*\)".*/\1/p' \
  "$work/windows/shuffler.rc")
if [[ ! "$version" =~ ^[0-9]+(\.[0-9]+)*$ ]]; then
  echo "release: no version found in $work/windows/shuffler.rc" >&2
  exit 1
fi
if readelf -l "$work/linux/Shuffler" | grep -q 'program interpreter'; then
  echo "release: the Linux program is not linked statically" >&2
  exit 1
fi

# The players' part of README.md as plain text: every section but checking
# the download (the player has it already), building, and the licence (in
# LICENSE.txt beside it), and no picture. Inline code that holds a space
# goes in single quotes, so that a name such as 'Song - Live.mp3' reads as
# one; other inline code is left bare. Whatever a player types or pastes is
# a code block of its own in README.md, and comes out as an indented line
# exactly as it is to be typed: never in quotes. Headings are underlined,
# code blocks indented by two, table rows written as labelled lines, and
# every line wrapped to 78 columns but a code line.
readme_text() {
  awk '
    /^## / {
      skipping = ($0 == "## Checking the download" ||
                  $0 == "## Building and contributing" || $0 == "## Licence")
    }
    /^<img / { getline; next }  # a picture and the blank line after it
    !skipping' "$1" |
  awk -v q="'" '
    /^ *```/ { fenced = !fenced; print; next }
    fenced || !/`/ { print; next }
    {
      n = split($0, part, "`")
      out = part[1]
      for (i = 2; i <= n; i++) {
        code = !code
        if (code) {
          # A span that goes on to the next line holds a line break.
          mark = (i == n || part[i] ~ / /) ? q : ""
        }
        out = out mark part[i]
      }
      print out
    }' |
  sed -E -e '/^ *```/b' -e 's/\*\*([^*]+)\*\*/\1/g' -e 's/\*([a-z]+)\*/<\1>/g' \
         -e 's/\[([^]]+)\]\(([^)]+)\)/\1 (\2)/g' |
  awk '
    function wrap(text, first, rest,    words, n, i, line, count, out) {
      n = split(text, words, / +/)
      line = first
      count = 0
      out = ""
      for (i = 1; i <= n; i++) {
        if (words[i] == "") continue
        if (count > 0 && length(line) + 1 + length(words[i]) > 78) {
          out = out line "\n"
          line = rest
          count = 0
        }
        line = count > 0 ? line " " words[i] : line words[i]
        count++
      }
      return out line
    }
    function underline(text, c,    s) {
      s = text
      gsub(/./, c, s)
      return text "\n" s
    }
    function cells(row, out,    n) {
      sub(/^ *\| */, "", row)
      sub(/ *\| *$/, "", row)
      return split(row, out, / *\| */)
    }
    /^ *```/ { fenced = !fenced; next }
    fenced { print "  " $0; next }
    /^\|/ {
      if (!in_table) {
        columns = cells($0, label)
        in_table = 1
      } else if ($0 !~ /^[ |:-]+$/) {
        n = cells($0, cell)
        for (i = 1; i <= n && i <= columns; i++)
          print wrap(label[i] ": " cell[i], i == 1 ? "- " : "  ", "    ")
      }
      next
    }
    { in_table = 0 }
    /^# /  { print underline(substr($0, 3), "="); next }
    /^## / { print underline(substr($0, 4), "-"); next }
    length($0) > 78 {
      # A long line keeps its indentation, and a list item its hanging one.
      match($0, /^ *([-*]|[0-9]+\.)? */)
      lead = substr($0, 1, RLENGTH)
      hang = lead
      gsub(/./, " ", hang)
      print wrap(substr($0, RLENGTH + 1), lead, hang)
      next
    }
    { print }'
}

# Windows: README.txt and LICENSE.txt with CR LF line ends, for Notepad.
stage=$work/stage
mkdir -p "$stage/windows"
cp "$work/windows/Shuffler.exe" "$stage/windows/Shuffler.exe"
readme_text "$work/src/README.md" | sed 's/$/\r/' >"$stage/windows/README.txt"
sed 's/$/\r/' "$work/src/LICENSE" >"$stage/windows/LICENSE.txt"

linux_name=Shuffler-$version-linux-x64
mkdir -p "$stage/$linux_name"
cp "$work/linux/Shuffler" "$work/src/README.md" "$work/src/LICENSE" \
   "$stage/$linux_name/"

chmod 0755 "$stage/$linux_name" "$stage/$linux_name/Shuffler" \
           "$stage/windows/Shuffler.exe"
chmod 0644 "$stage/$linux_name/README.md" "$stage/$linux_name/LICENSE" \
           "$stage/windows/README.txt" "$stage/windows/LICENSE.txt"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

zip_name=Shuffler-$version-windows-x64.zip
tar_name=$linux_name.tar.gz
# zip -X leaves out the owner and the extra time fields; the entries keep the
# commit's time (in UTC), their modes and the order given here.
(cd "$stage/windows" &&
  zip -X -D -9 -q "$checkout/dist/$zip_name" Shuffler.exe README.txt \
      LICENSE.txt)
tar --format=gnu --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 \
    --group=0 --numeric-owner -C "$stage" -cf - "$linux_name" |
  gzip -9 -n >"dist/$tar_name"
(cd dist && sha256sum "$zip_name" "$tar_name" >SHA256SUMS)

echo "== dist/ (commit $commit, version $version)"
(cd dist && ls -l --time-style=+ "$zip_name" "$tar_name" && cat SHA256SUMS)
