#!/usr/bin/env bash
# Makes a fresh 64-bit Wine prefix, optionally holding the game's registry key
# in the 32-bit view, the one savefix.exe reads:
#
#   bash scripts/wine-prefix.sh PREFIX [APPPATH]
#   bash scripts/wine-prefix.sh --hand-made PREFIX APPPATH
#
# A PREFIX this script made (it holds the marker file .savefix-prefix) is
# replaced; any other PREFIX that exists and is not an empty folder is refused
# and left as it is. APPPATH is the "AppPath" value, a Windows path such as
# 'Z:\games\vellmoor\'. The prefix's wineserver is stopped at the end, which
# writes the registry to disk. Run scripts/wine-setup.sh first.
#
# --hand-made starts no Wine: PREFIX gets only what the native savefix reads,
# dosdevices/z: (pointing to /) and a system.reg holding the game's key and
# nothing else. Enough to try the native program; a real prefix comes from Wine.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
savefix_help "$@"
hand_made=0
[ "${1-}" != --hand-made ] || { hand_made=1 && shift; }
[ $# -ge $((1 + hand_made)) ] && [ $# -le 2 ] || savefix_usage
prefix=$1
marker=$prefix/.savefix-prefix
savefix_wine_env "$prefix"
export WINEARCH=win64

if [ -f "$marker" ] && [ ! -L "$prefix" ]; then
  [ "$hand_made" = 1 ] || wineserver -k 2> /dev/null || true
  rm -rf "$prefix"
elif [ -e "$prefix" ] || [ -L "$prefix" ]; then
  if [ ! -d "$prefix" ] || [ -L "$prefix" ] || [ -n "$(ls -A "$prefix")" ]; then
    savefix_die "$prefix exists and was not made by this script (no .savefix-prefix in it); leaving it alone. Remove it yourself or choose another folder."
  fi
fi
mkdir -p "$prefix"
# The marker goes in before Wine writes anything, so that a run stopped
# halfway leaves a folder the next run may replace.
: > "$marker"

if [ "$hand_made" = 1 ]; then
  savefix_hand_made_prefix "$prefix" "$2"
  echo "Wine prefix laid out by hand: $prefix"
  exit
fi

# Every descriptor goes to /dev/null: Wine's services outlive this script, and
# a caller reading our output must not wait for them.
wine wineboot -i < /dev/null > /dev/null 2>&1

if [ $# -eq 2 ]; then
  reg=$(mktemp "${TMPDIR:-/tmp}/savefix-key.XXXXXX")
  # The 64-bit reg tool (Debian's "wine" would start the 32-bit one, which
  # may run only emulated) reaches the 32-bit view under Wow6432Node, so one
  # import is enough. UTF-16 with a byte order mark, so that any letter
  # arrives as written, whatever the code page.
  {
    printf '\377\376'
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n"%s"="%s"\r\n' \
      "$savefix_key_wow64" "$savefix_value" "$(savefix_reg_escape "$2")" | iconv -f UTF-8 -t UTF-16LE
  } > "$reg"
  status=0
  /usr/lib/wine/wine64 reg import "$(savefix_z_path "$reg")" /reg:64 < /dev/null > /dev/null 2>&1 || status=$?
  rm -f "$reg"
  [ "$status" -eq 0 ] || savefix_die "writing the registry key failed"
fi
wineserver -k 2> /dev/null || true
wineserver -w 2> /dev/null || true
echo "Wine prefix ready: $prefix"
