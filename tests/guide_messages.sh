#!/usr/bin/env bash
# Every message the players' guides explain is one the program prints: each
# piece of it between placeholders (<save>, <n>...) stands in a string the
# program's sources print, in patch/ and run/.
#
#   bash tests/guide_messages.sh
#
# Prints "guide messages: N checked, N missing" and exits 1 if any is missing.
set -uo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
savefix_help "$@"
[ $# -eq 0 ] || savefix_usage
root=$(cd "$(dirname "$0")/.." && pwd)
# The sources' string literals, escapes undone, "%s" as the placeholder.
texts=$(cat "$root"/patch/*.h "$root"/patch/*.cpp "$root"/run/*.h "$root"/run/*.cpp |
  grep -o '"\([^"\\]\|\\.\)*"' | sed -e 's/^"//; s/"$//' -e 's/\\n//g; s/\\\\/\\/g')
# The guides' messages: the first code span of each row of the Linux guide's
# tables, and in the Windows guide each line at the left margin that an
# indented explanation follows (with the lines right above it), from its
# message section on.
messages=$( {
  grep -E '^\| `' "$root/docs/linux-guide.md" | sed -E 's/^\| `([^`]*)`.*/\1/'
  awk '/^What the messages mean$/ { on = 1 } !on { next }
    /^ / { if (n) printf "%s", lines; n = 0; lines = ""; next }
    /^$/ { n = 0; lines = ""; next } { lines = lines $0 "\n"; n++ }' "$root/docs/windows-guide.txt"
} | grep -v '^message$')
checked=0 missing=0
while IFS= read -r message; do
  checked=$((checked + 1))
  while IFS= read -r piece; do
    [ -z "$piece" ] || grep -qF -- "$piece" <<< "$texts" || {
      echo "not printed by the program: '$piece' of '$message'"
      missing=$((missing + 1))
    }
  done < <(sed -E 's/<[a-z]+>/\n/g' <<< "$message")
done <<< "$messages"
echo "guide messages: $checked checked, $missing missing"
[ "$missing" -eq 0 ] && [ "$checked" -gt 40 ]
