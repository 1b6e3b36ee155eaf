#!/usr/bin/env bash
# The same job scripted by hand, as a user would without savefix: for each
# X.HDR, copy it into a new file; if that copy holds 4 at (length - 252) the
# save is fixed already and the copy goes; otherwise move the copy over X.BAK
# and write the byte 4 at (length - 252) in place. Exits 1 after any failure.
#
#   bash shell_peer.sh SAVE_DIR
if [ $# -ne 1 ] || [ "$1" = -h ] || [ "$1" = --help ]; then
  . "$(dirname "$0")/../scripts/lib.sh"  # here only: a measured run reads no more than it needs
  savefix_help "$@"
  savefix_usage
fi
set -C  # ">" makes new files only
status=0
for f in "$1"/*.HDR; do
  [ -e "$f" ] || { echo "No save game found"; break; }
  bak=${f%.HDR}.BAK
  if ! cat -- "$f" > "$bak.new"; then
    echo "Failed to make backup $bak... Skipping file"
    status=1
    continue
  fi
  at=$(($(stat -c %s -- "$bak.new") - 252))
  if [ "$at" -ge 0 ] && [ "$(od -An -tu1 -j "$at" -N1 -- "$bak.new")" -eq 4 ]; then
    rm -f -- "$bak.new"
    echo "Already fixed $f... Skipping file"
    continue
  fi
  mv -f -- "$bak.new" "$bak" || { status=1; continue; }
  echo "Backup made $bak"
  if [ "$at" -ge 0 ] && ! printf '\004' | dd of="$f" bs=1 seek="$at" conv=notrunc status=none; then
    echo "Failed to patch file $f"
    status=1
  fi
done
exit "$status"
