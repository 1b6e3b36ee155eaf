#!/usr/bin/env bash
# The saves of one benchmark point, COUNTxBYTES (say 100x300), under
# $BENCH_WORK, where run.sh keeps them:
#
#   saves.sh make POINT     orig/POINT: COUNT random saves of BYTES bytes, with
#                           no byte 4 in them; expect/POINT: what a run over
#                           them must leave, each save with 4 at (length - 252)
#                           and otherwise the same, each X.BAK the original
#   saves.sh lay-out POINT first|second
#                           checks what the last run left (as `check`), then
#                           fills game/SaveGames for a first run (the originals)
#                           or a second one (what a first run leaves)
#   saves.sh check          game/SaveGames must hold exactly expect/POINT of the
#                           point laid out last; prints the differences and
#                           exits 1 if not
#
# A second run finds every save fixed already and must leave it all as it is.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
savefix_help "$@"
case "$#:${1-}:${3-}" in
  2:make: | 3:lay-out:first | 3:lay-out:second | 1:check:) ;;
  *) savefix_usage ;;
esac
work=${BENCH_WORK:?}
saves=$work/game/SaveGames
pending=$work/pending-check  # the point laid out last, until its result is checked

check() {
  [ -s "$pending" ] || return 0
  local point
  point=$(cat "$pending")
  if ! diff -r -q "$work/expect/$point" "$saves" > "$work/wrong" 2>&1; then
    echo "wrong result on $point:" >&2
    head -n 5 "$work/wrong" >&2
    exit 1
  fi
  : > "$pending"
}

case "${1:-}" in
  make)
    point=$2 count=${2%x*} bytes=${2#*x}
    rm -rf "$work/orig/$point" "$work/expect/$point"
    mkdir -p "$work/orig/$point" "$work/expect/$point"
    head -c $((count * bytes)) /dev/urandom | tr '\004' '\005' > "$work/stream"
    for dir_suffix in orig/$point:.HDR expect/$point:.HDR expect/$point:.BAK; do
      (cd "$work/${dir_suffix%:*}" &&
        split -a 5 -d -b "$bytes" --additional-suffix="${dir_suffix#*:}" "$work/stream" SAVE)
    done
    rm "$work/stream"
    # One process for all of them: a dd per save would take longer than the runs.
    perl -e 'for (glob("$ARGV[0]/*.HDR")) {
      my $f; open($f, "+<", $_) && seek($f, -252, 2) && print({$f} "\x04") && close($f) or die "cannot patch $_: $!\n" }' \
      "$work/expect/$point" ;;
  lay-out)
    check
    rm -rf "$saves"
    case "$3" in
      first) cp -r "$work/orig/$2" "$saves" ;;
      second) cp -r "$work/expect/$2" "$saves" ;;
    esac
    echo "$2" > "$pending"
    sync ;;
  check) check ;;
esac
