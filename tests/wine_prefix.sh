#!/usr/bin/env bash
# Fixture of the Wine tests.
#   wine_prefix.sh start PREFIX EXE   fresh prefix, its wineserver and services kept up for the run
#   wine_prefix.sh stop PREFIX        stops the prefix's wineserver
set -euo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  start)
    [ -f "$3" ] || { echo "no $3: build the win32 preset first" >&2; exit 1; }
    bash "$(dirname "$0")/../scripts/wine-prefix.sh" "$WINEPREFIX"
    # The server stays up between the tests (but goes by itself at the
    # latest 15 minutes after the last one, should the stop step never run).
    # Wine's services start here, with every descriptor on /dev/null: started
    # by the first test they would inherit its output, and CTest would wait
    # for them to end before it took that test as finished.
    wineserver -p900 < /dev/null > /dev/null 2>&1
    wine cmd /c exit < /dev/null > /dev/null 2>&1
    ;;
  stop)
    wineserver -k 2> /dev/null || true
    wineserver -w 2> /dev/null || true
    ;;
esac
