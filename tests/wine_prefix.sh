#!/usr/bin/env bash
# Fixture of the Wine tests.
#   wine_prefix.sh start PREFIX EXE   fresh prefix, its wineserver and services kept up for the run
#   wine_prefix.sh stop PREFIX        stops the prefix's wineserver
set -euo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
savefix_help "$@"
case "${1-} $#" in
  "start 3" | "stop 2") ;;
  *) savefix_usage ;;
esac
action=$1
savefix_wine_env "$2"
case "$action" in
  start)
    [ -f "$3" ] || savefix_die "no $3: build the win32 preset first"
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
