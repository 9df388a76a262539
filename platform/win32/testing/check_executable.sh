#!/usr/bin/env bash
# Checks the built Shuffler.exe on the build host:
#   check_executable.sh OBJDUMP Shuffler.exe
# It must be a GUI program (no console), import only DLLs that come with
# Windows (nothing from the compiler's runtime), and carry the application
# manifest and the version resource.
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

# Resource types: 0x10 is the version, 0x18 the manifest.
resources=$(sed -n '/^The .rsrc Resource Directory section:/,$p' <<<"$headers")
grep -Eq '^[0-9a-f]+[[:space:]]+Entry: ID: 0x0*10,' <<<"$resources" \
  || fail "no version resource"
grep -Eq '^[0-9a-f]+[[:space:]]+Entry: ID: 0x0*18,' <<<"$resources" \
  || fail "no manifest resource"

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
echo "$exe: GUI program, system DLLs only, manifest and version present"
