#!/usr/bin/env bash
# Checks that a built savefix.exe is what players can run as it is: a 32-bit
# console program importing only system DLLs, with no elevation manifest and
# nothing in its name or version strings that would have Windows take it for
# an installer.
#
#   check_windows_exe.sh SAVEFIX_EXE
#
# OBJDUMP names the objdump to use (default i686-w64-mingw32-objdump).
set -u
. "$(dirname "$0")/../scripts/lib.sh"
savefix_help "$@"
[ $# -eq 1 ] || savefix_usage
exe=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
status=0
fail() { echo "FAIL: $*"; status=1; }

headers=$("$objdump" -p "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }

grep -Eq '^Magic[[:space:]]+010b' <<< "$headers" || fail "not a PE32 (32-bit) image"
grep -Eq '^Subsystem[[:space:]]+00000003' <<< "$headers" || fail "not a console program"

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers" | tr 'A-Z' 'a-z' | sort -u)
echo "imports: $(tr '\n' ' ' <<< "$imports")"
[ -n "$imports" ] || fail "no import list found"
for dll in $imports; do
  case "$dll" in
    kernel32.dll | advapi32.dll | msvcrt.dll) ;;
    *) fail "imports $dll, which a bare Windows machine may not have" ;;
  esac
done

if LC_ALL=C grep -aq 'requestedExecutionLevel' "$exe"; then
  fail "carries a manifest with requestedExecutionLevel"
fi

name=$(basename "$exe")
if grep -Eiq 'patch|update|upgrade|setup|install' <<< "$name"; then
  fail "file name $name looks like an installer's"
fi
# Version strings are stored as UTF-16; read both encodings.
strings_found=$( (strings -a -el "$exe"; strings -a "$exe") | grep -E '^(FileDescription|InternalName|OriginalFilename|ProductName)' -A1 || true)
if (strings -a -el "$exe" | grep -Eiq 'patch|update|upgrade|setup|install'); then
  fail "a UTF-16 string in the image (version resource) looks like an installer's"
fi
grep -q 'ProductName' <<< "$strings_found" || fail "no version resource with a product name"

[ "$status" -eq 0 ] && echo "ok: $name"
exit "$status"
