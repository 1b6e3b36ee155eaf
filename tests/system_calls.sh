#!/usr/bin/env bash
# The native program under strace, over a prefix holding one save A.HDR and
# an older backup A.BAK:
#
#   bash tests/system_calls.sh PROGRAM
#
# - the backup's move is made durable (the folder synced) after the move and
#   before the save's byte is written;
# - a failing sync of the copy, a failing move or a failing sync of the
#   folder leaves the save unpatched, with "Failed to make backup";
# - killed at any one of its system calls, the run leaves the save and an
#   original of it: the save as it was beside its old or a new whole backup,
#   or the save fixed beside a whole backup;
# - killed at any one of the system calls of --restore, the save is fixed or
#   put back, and its backup stays the original.
# Prints "system calls: N passed, N failed" and exits 1 on any failure.
set -uo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
savefix_help "$@"
[ $# -eq 1 ] || savefix_usage
program=$1
command -v strace > /dev/null || savefix_die "strace is missing (bash scripts/install-deps.sh test installs it)"
work=$(mktemp -d "${TMPDIR:-/tmp}/savefix-calls.XXXXXX")
trap 'rm -rf "$work"' EXIT
saves=$work/game/SaveGames
passed=0 failed=0

fail() { echo "FAILED: $*" >&2; failed=$((failed + 1)); }

# A fresh prefix and save folder: A.HDR (300 random bytes without a 4) and
# an older A.BAK.
lay_out() {
  rm -rf "$work/pfx" "$work/game"
  mkdir -p "$saves"
  savefix_hand_made_prefix "$work/pfx" "$(savefix_z_path "$work/game/")"
  head -c 300 /dev/urandom | tr '\004' '\005' > "$saves/A.HDR"
  head -c 50 /dev/urandom > "$saves/A.BAK"
  cp "$saves/A.HDR" "$work/original"
  cp "$saves/A.BAK" "$work/old"
  cp "$saves/A.HDR" "$work/fixed"
  printf '\004' | dd of="$work/fixed" bs=1 seek=48 conv=notrunc status=none
}

# A run killed by strace is reported by the shell that ran it: a subshell of its own.
# The program's own arguments are in `args`.
args=()
run() { (WINEPREFIX=$work/pfx strace -f -qq -o "$work/trace" "$@" "$program" "${args[@]}" <<< "" > "$work/out"; true) 2> /dev/null; }

same() { cmp -s "$1" "$2"; }

# What a run may leave, however it ended.
left_whole() {
  if same "$saves/A.HDR" "$work/original"; then
    same "$saves/A.BAK" "$work/old" || same "$saves/A.BAK" "$work/original"
  else
    same "$saves/A.HDR" "$work/fixed" && same "$saves/A.BAK" "$work/original"
  fi
}

# The move, then the folder's sync, then the byte.
lay_out
run -e trace=renameat,renameat2,rename,fsync,pwrite64
moved=$(grep -n 'rename.*"A.BAK"' "$work/trace" | cut -d: -f1)
folder=$(grep -E 'rename' "$work/trace" | sed -E 's/.*rename[a-z0-9]*\(([0-9]+),.*/\1/')
synced=$(grep -n "fsync($folder)" "$work/trace" | cut -d: -f1)
patched=$(grep -n 'pwrite64(.*"\\4", 1' "$work/trace" | cut -d: -f1)
if [ -n "$moved" ] && [ -n "$synced" ] && [ -n "$patched" ] && [ "$moved" -lt "$synced" ] && [ "$synced" -lt "$patched" ]; then
  passed=$((passed + 1))
else
  fail "order of move, folder sync and patch: $(tr '\n' ' ' < "$work/trace")"
fi

# Each step failing in turn: the copy's sync, the move, the folder's sync.
for fault in fsync:when=1 renameat fsync:when=2; do
  lay_out
  run -e inject="${fault%%:*}:error=EIO${fault#"${fault%%:*}"}"
  if grep -q 'Failed to make backup' "$work/out" && same "$saves/A.HDR" "$work/original" && left_whole; then
    passed=$((passed + 1))
  else
    fail "$fault failing: $(cat "$work/out")"
  fi
done

# Killed at each call of each system call, in turn, after LAY_OUT: the
# run leaves what WHOLE accepts.   kill_sweep LAY_OUT WHOLE
kill_sweep() {
  local count name when
  $1
  run
  calls=$(sed -E 's/^[0-9]+ +//; /^\+\+\+|^---/d; s/\(.*//' "$work/trace" | sort | uniq -c)
  while read -r count name; do
    for ((when = 1; when <= count; when++)); do
      $1
      run -e inject="$name:signal=KILL:when=$when"
      if $2; then
        passed=$((passed + 1))
      else
        fail "${args[*]} killed at $name #$when"
      fi
    done
  done <<< "$calls"
}
kill_sweep lay_out left_whole

# Putting back: the save fixed beside its original; killed anywhere, the
# save is fixed or original again, and the backup stays the original.
lay_out_fixed() { lay_out && cp "$work/fixed" "$saves/A.HDR" && cp "$work/original" "$saves/A.BAK"; }
put_back_whole() {
  same "$saves/A.BAK" "$work/original" && { same "$saves/A.HDR" "$work/fixed" || same "$saves/A.HDR" "$work/original"; }
}
args=(--restore)
lay_out_fixed
run
if grep -q 'Original put back' "$work/out" && same "$saves/A.HDR" "$work/original" && same "$saves/A.BAK" "$work/original"; then
  passed=$((passed + 1))
else
  fail "--restore: $(cat "$work/out")"
fi
kill_sweep lay_out_fixed put_back_whole

echo "system calls: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
