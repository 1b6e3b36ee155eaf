#!/usr/bin/env bash
# Builds savefix.exe, lays out a demo install of the game (a registry key in
# a Wine prefix and a SaveGames folder with sample saves, all under
# build/demo), runs the real program there in this terminal, then shows what
# it changed. Every run starts from a fresh demo install. What is missing
# is installed first: what the demo needs, and what the quick loop after it
# needs (cmake --workflow --preset native: GoogleTest and strace too).
#
#   bash scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
savefix_help "$@"
[ $# -eq 0 ] || savefix_usage
savefix_every_core
root=$(pwd)

bash scripts/install-deps.sh native
bash scripts/wine-setup.sh

echo "== Building savefix.exe"
cmake --preset win32 > /dev/null
cmake --build --preset win32 --target savefix > /dev/null

demo=$root/build/demo
game=$demo/Vellmoor
saves=$game/SaveGames
prefix=$demo/wineprefix
rm -rf "$game"
mkdir -p "$saves"

echo "== Laying out a demo install in $game"
# name and size of each sample save; the last is too short to have a patch byte
samples=("Campaign1.HDR 48213" "Campaign2.HDR 131072" "Quicksave.HDR 2600" "Arena.HDR 180")
for sample in "${samples[@]}"; do
  read -r name size <<< "$sample"
  head -c "$size" /dev/urandom > "$saves/$name"
  if [ "$size" -ge 252 ]; then
    # Start from a byte other than 4, so the change shows.
    printf '\001' | dd of="$saves/$name" bs=1 seek=$((size - 252)) conv=notrunc status=none
  fi
done
printf 'not a save\r\n' > "$saves/readme.txt"
cp "$saves/Campaign1.HDR" "$demo/Campaign1.original"

echo "== Making a fresh Wine prefix in $prefix"
echo "   (Wine starts there for the first time and sets up its drive C: and registry: about 20 s;"
echo "   then the game's registry key goes in)"
started=$SECONDS
windows_game="$(savefix_z_path "$game")\\"
bash scripts/wine-prefix.sh "$prefix" "$windows_game" > /dev/null
echo "   ready after $((SECONDS - started)) s"
savefix_wine_env "$prefix"
echo "HKLM\\$savefix_key, $savefix_value (32-bit view) = $windows_game"

byte_at() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }

declare -A before
for sample in "${samples[@]}"; do
  read -r name size <<< "$sample"
  if [ "$size" -ge 252 ]; then before[$name]=$(byte_at "$saves/$name" $((size - 252))); else before[$name]=-; fi
done

echo
echo "== Running savefix.exe (press Enter when it asks)"
echo
status=0
wine build/win32/savefix.exe || status=$?
wineserver -k 2> /dev/null || true
echo
echo
echo "== savefix.exe exited with status $status. What changed in $saves:"
printf '%-15s %9s %8s %12s %11s  %s\n' save size offset "byte before" "byte after" "backup"
for sample in "${samples[@]}"; do
  read -r name size <<< "$sample"
  backup=${name%.HDR}.BAK
  if [ "$size" -ge 252 ]; then
    offset=$((size - 252))
    after=$(byte_at "$saves/$name" "$offset")
  else
    offset=-
    after=-
  fi
  if [ -f "$saves/$backup" ]; then
    backup_note="$backup ($(stat -c %s "$saves/$backup") bytes)"
  else
    backup_note="none"
  fi
  printf '%-15s %9s %8s %12s %11s  %s\n' "$name" "$size" "$offset" "${before[$name]}" "$after" "$backup_note"
done
echo
echo "Bytes that differ between Campaign1.BAK and Campaign1.HDR (cmp: position counted from 1, old, new in octal):"
cmp -l "$saves/Campaign1.BAK" "$saves/Campaign1.HDR" || true
cmp -s "$saves/Campaign1.BAK" "$demo/Campaign1.original" && echo "Campaign1.BAK is identical to the save before the run."
echo
ls -l "$saves"
