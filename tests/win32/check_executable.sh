#!/usr/bin/env bash
# Checks the built Shuffler.exe on the build host:
#   check_executable.sh OBJDUMP Shuffler.exe
# It must be a GUI program (no console) that Windows 7 SP1 can load: its
# headers ask for no newer Windows, and it imports only functions listed in
# windows7_imports.txt (next to this script), from DLLs that come with
# Windows (nothing from the compiler's runtime). It must carry the
# application manifest, the icon and the version resource.
set -euo pipefail

objdump=$1
exe=$2
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

headers=$("$objdump" -p "$exe")

grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]+\(Windows GUI\)' <<<"$headers" \
  || fail "subsystem is not Windows GUI (2)"

# Windows refuses a program whose headers ask for a newer version than its
# own: 6.1 is Windows 7.
for field in OSystem Subsystem; do
  major=$(sed -n "s/^Major${field}Version[[:space:]]*//p" <<<"$headers")
  minor=$(sed -n "s/^Minor${field}Version[[:space:]]*//p" <<<"$headers")
  if [[ -z "$major" || -z "$minor" ]] ||
     (( major > 6 || (major == 6 && minor > 1) )); then
    fail "${field} version ${major:-?}.${minor:-?} is newer than 6.1 (Windows 7)"
  fi
done

dlls=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers")
[[ -n "$dlls" ]] || fail "no imported DLLs found"
while read -r dll; do
  [[ -z "$dll" ]] && continue
  case "${dll,,}" in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | \
    ole32.dll | comctl32.dll | comdlg32.dll | shlwapi.dll | ntdll.dll | \
    bcrypt.dll | ws2_32.dll | version.dll | msvcrt.dll | ucrtbase.dll | \
    api-ms-win-*.dll)
      echo "imports $dll" ;;
    *)
      fail "imports $dll, which Windows does not provide" ;;
  esac
done <<<"$dlls"

# Every imported function must be one that Windows 7 SP1 has. An import
# by ordinal alone cannot be checked, so it fails too.
allowed_file=$(dirname "$0")/windows7_imports.txt
allowed=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$allowed_file" |
  awk '{ print tolower($1), $2 }')
imports=$(awk '
  /DLL Name:/ { dll = tolower($3); next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+/ { print dll, ($3 == "" ? "#" $2 : $3); next }
  /^[[:space:]]*$/ { next }
  !/vma:/ { dll = "" }' <<<"$headers")
[[ -n "$imports" ]] || fail "no imported functions found"
count=0
unknown=0
while read -r dll function; do
  [[ -z "$dll" ]] && continue
  count=$((count + 1))
  if ! grep -qxF "$dll $function" <<<"$allowed"; then
    fail "imports $dll $function, not known to be in Windows 7 SP1" \
         "(not in $(basename "$allowed_file"))"
    unknown=$((unknown + 1))
  fi
done <<<"$imports"
echo "imports $count functions, $unknown of them not known in Windows 7 SP1"

# Resource types: 0x10 is the version, 0x18 the manifest, 0x0e the icon
# that shortcuts show, whose seven sizes are 0x03 entries.
resources=$(sed -n '/^The .rsrc Resource Directory section:/,$p' <<<"$headers")
grep -Eq '^[0-9a-f]+[[:space:]]+Entry: ID: 0x0*10,' <<<"$resources" \
  || fail "no version resource"
grep -Eq '^[0-9a-f]+[[:space:]]+Entry: ID: 0x0*18,' <<<"$resources" \
  || fail "no manifest resource"
grep -Eq '^[0-9a-f]+[[:space:]]+Entry: ID: 0x0*e,' <<<"$resources" \
  || fail "no icon resource"
# Types are entries indented by 3, names (one per image) by 5.
images=$(awk '/^[0-9a-f]+   Entry:/ { icons = /ID: 0x0*3,/; next }
              icons && /^[0-9a-f]+     Entry:/ { ++count }
              END { print count + 0 }' <<<"$resources")
[[ "$images" == 7 ]] || fail "the icon has $images images, not 7"

# The manifest's settings, and the version's texts (UTF-16 in the binary).
for setting in 'level="asInvoker"' '<longPathAware[^>]*>true<' \
               '<dpiAwareness[^>]*>PerMonitorV2<' \
               'name="Microsoft.Windows.Common-Controls"'; do
  LC_ALL=C grep -aEq "$setting" "$exe" || fail "manifest lacks $setting"
done
utf16() { sed 's/./&\\x00/g' <<<"$1"; }
for field in FileDescription ProductName; do
  LC_ALL=C grep -aPq "$(utf16 "$field")\\x00+$(utf16 Shuffler)\\x00\\x00" \
    "$exe" || fail "version resource lacks $field \"Shuffler\""
done

if [[ $failures -gt 0 ]]; then
  echo "$exe: $failures check(s) failed" >&2
  exit 1
fi
echo "$exe: GUI program for Windows 7 SP1 and later, system DLLs only," \
     "manifest, icon and version present"
