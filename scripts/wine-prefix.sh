#!/usr/bin/env bash
# Makes a fresh 64-bit Wine prefix, optionally holding the game's registry key
# in the 32-bit view, the one savefix.exe reads:
#
#   bash scripts/wine-prefix.sh PREFIX [APPPATH]
#
# PREFIX is replaced if it exists. APPPATH is the "AppPath" value, a Windows
# path such as 'Z:\games\vellmoor\'. The prefix's wineserver is stopped at the
# end, which writes the registry to disk. Run scripts/wine-setup.sh first.
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
prefix=$1
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ -d "$prefix" ]; then
  wineserver -k 2> /dev/null || true
  rm -rf "$prefix"
fi
mkdir -p "$(dirname "$prefix")"
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
