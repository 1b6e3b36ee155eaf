#!/usr/bin/env bash
# Fixture of the Wine tests.
#   wine_prefix.sh start PREFIX EXE   fresh prefix, wineserver kept up for the run
#   wine_prefix.sh stop PREFIX        stops the prefix's wineserver
set -euo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  start)
    [ -f "$3" ] || { echo "no $3: build the win32 preset first" >&2; exit 1; }
    bash "$(dirname "$0")/../scripts/wine-setup.sh" "$WINEPREFIX"
    # Keeps the server up between the test runs, but never longer than a
    # minute after the last one, even if the stop step never runs.
    wineserver -p60 < /dev/null > /dev/null 2>&1
    ;;
  stop)
    wineserver -k 2> /dev/null || true
    wineserver -w 2> /dev/null || true
    ;;
esac
