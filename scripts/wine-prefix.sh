#!/usr/bin/env bash
# Makes a fresh 64-bit Wine prefix, optionally holding the game's registry key
# in the 32-bit view, the one savefix.exe reads:
#
#   bash scripts/wine-prefix.sh PREFIX [APPPATH]
#
# A PREFIX this script made (it holds the marker file .savefix-prefix) is
# replaced; any other PREFIX that exists and is not an empty folder is refused
# and left as it is. APPPATH is the "AppPath" value, a Windows path such as
# 'Z:\games\vellmoor\'. The prefix's wineserver is stopped at the end, which
# writes the registry to disk. Run scripts/wine-setup.sh first.
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
prefix=$1
marker=$prefix/.savefix-prefix
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ -f "$marker" ] && [ ! -L "$prefix" ]; then
  wineserver -k 2> /dev/null || true
  rm -rf "$prefix"
elif [ -e "$prefix" ] || [ -L "$prefix" ]; then
  if [ ! -d "$prefix" ] || [ -L "$prefix" ] || [ -n "$(ls -A "$prefix")" ]; then
    echo "wine-prefix.sh: $prefix exists and was not made by this script (no .savefix-prefix in it); leaving it alone. Remove it yourself or choose another folder." >&2
    exit 1
  fi
fi
mkdir -p "$prefix"
# The marker goes in before Wine writes anything, so that a run stopped
# halfway leaves a folder the next run may replace.
: > "$marker"
# Every descriptor goes to /dev/null: Wine's services outlive this script, and
# a caller reading our output must not wait for them.
wine wineboot -i < /dev/null > /dev/null 2>&1

if [ $# -eq 2 ]; then
  escaped=${2//\\/\\\\}
  escaped=${escaped//\"/\\\"}
  reg=$(mktemp "${TMPDIR:-/tmp}/savefix-key.XXXXXX")
  # The 64-bit reg tool (Debian's "wine" would start the 32-bit one, which
  # may run only emulated) reaches the 32-bit view under Wow6432Node, so one
  # import is enough. UTF-16 with a byte order mark, so that any letter
  # arrives as written, whatever the code page.
  {
    printf '\377\376'
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Quarrelstone\\Vellmoor\\1.0]\r\n"AppPath"="%s"\r\n' \
      "$escaped" | iconv -f UTF-8 -t UTF-16LE
  } > "$reg"
  status=0
  /usr/lib/wine/wine64 reg import "Z:${reg//\//\\}" /reg:64 < /dev/null > /dev/null 2>&1 || status=$?
  rm -f "$reg"
  [ "$status" -eq 0 ] || { echo "wine-prefix.sh: writing the registry key failed" >&2; exit 1; }
fi
wineserver -k 2> /dev/null || true
wineserver -w 2> /dev/null || true
echo "Wine prefix ready: $prefix"
