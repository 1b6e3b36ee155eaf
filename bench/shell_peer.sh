#!/usr/bin/env bash
# The same job scripted by hand, as a user would without savefix: copy each
# save to its .BAK name, then write the byte 4 at (length - 252) in place.
#   bash shell_peer.sh SAVE_DIR
# Prints the same lines savefix prints, so run.sh checks both alike.
dir=$1
for f in "$dir"/*.HDR; do
  [ -e "$f" ] || { echo "No save game found"; break; }
  echo "Processing file $f"
  bak="${f%.HDR}.BAK"
  if ! cp "$f" "$bak"; then
    echo "Failed to make backup $bak... Skipping file"
    echo
    continue
  fi
  echo "Backup made $bak"
  size=$(stat -c %s "$f")
  if [ "$size" -ge 252 ]; then
    printf '\004' | dd of="$f" bs=1 seek=$((size - 252)) conv=notrunc status=none
  fi
  echo "File Processed"
  echo
done
printf 'Press any key to close...'
read -r _ || true
