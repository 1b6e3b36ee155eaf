#!/usr/bin/env bash
# Makes two releases of HEAD, from two fresh clones in different directories,
# one after the other, with different umasks, time zones and locales, and
# checks that they are the same bytes; then checks what the packages hold.
# Prints "release checks: N passed, N failed" last.
#
#   bash tests/release_reproducible.sh
#
# The releases skip the Wine scenario table (the wine preset of the test
# command runs it on build/win32/savefix.exe); when this checkout is HEAD as
# committed, the packed savefix.exe must be that very file.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
savefix_help "$@"
[ $# -eq 0 ] || savefix_usage
work=$(mktemp -d "${TMPDIR:-/tmp}/savefix-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passed=$((passed + 1))
    return 0
  fi
  echo "FAIL: $what"
  failed=$((failed + 1))
  return 1
}
finish() {
  echo "release checks: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

commit=$(git -C "$root" rev-parse HEAD)
echo "Two releases of commit $commit"

# release NAME CLONE_DIR UMASK TZ LOCALE
release() {
  local name=$1 dir=$2 mask=$3 zone=$4 locale=$5
  git clone -q "$root" "$dir" && git -C "$dir" checkout -q --detach "$commit" || return 1
  echo "release $name: $dir, umask $mask, TZ=$zone, LC_ALL=$locale"
  (umask "$mask" && cd "$dir" && TZ=$zone LC_ALL=$locale SAVEFIX_TRIAL_RELEASE=1 bash scripts/release.sh --no-wine-tests) \
    > "$work/$name.log" 2>&1 || { tail -n 40 "$work/$name.log"; return 1; }
}
a=$work/one/savefix
b=$work/second-place/deeper/src
check "release A builds" release A "$a" 022 UTC C.UTF-8 || finish
check "release B builds" release B "$b" 077 KIT-14 C || finish

# Names every member that differs between two unpacked archives.
name_differences() {
  local x=$1 y=$2 member
  for member in $( (cd "$x" && ls; cd "$y" && ls) | sort -u); do
    if ! cmp -s "$x/$member" "$y/$member"; then echo "  differs: $member"; fi
  done
}
explain_archive_difference() {
  local archive=$1
  cmp -s "$a/dist/$archive" "$b/dist/$archive" && return
  echo "$archive differs between the releases"
  mkdir -p "$work/unpacked/A" "$work/unpacked/B"
  rm -rf "$work/unpacked/A/"* "$work/unpacked/B/"*
  case "$archive" in
    *.zip)
      unzip -q "$a/dist/$archive" -d "$work/unpacked/A"
      unzip -q "$b/dist/$archive" -d "$work/unpacked/B"
      diff <(zipinfo -l "$a/dist/$archive" | sed 1d) <(zipinfo -l "$b/dist/$archive" | sed 1d) ;;
    *.tar.gz)
      tar -xzf "$a/dist/$archive" -C "$work/unpacked/A"
      tar -xzf "$b/dist/$archive" -C "$work/unpacked/B"
      diff <(tar -tvzf "$a/dist/$archive") <(tar -tvzf "$b/dist/$archive") ;;
  esac
  local members
  members=$(name_differences "$work/unpacked/A" "$work/unpacked/B")
  if [ -n "$members" ]; then
    echo "$members"
  else
    echo "  every member is the same: the archive headers differ (times, modes, owners or order, listed above)"
  fi
}
same_sums() {
  cmp -s "$a/dist/SHA256SUMS" "$b/dist/SHA256SUMS" && return
  diff "$a/dist/SHA256SUMS" "$b/dist/SHA256SUMS"
  local archive
  for archive in $(cd "$a/dist" && ls ./*.zip ./*.tar.gz); do explain_archive_difference "${archive#./}"; done
  return 1
}
check "both releases have the same SHA256SUMS" same_sums

dist=$a/dist
zip=$(cd "$dist" && ls savefix-*-windows-x86.zip)
tgz=$(cd "$dist" && ls savefix-*-linux-x86_64.tar.gz)
holds_exactly() {
  local listing=$1
  shift
  [ "$listing" = "$(printf '%s\n' "$@" | LC_ALL=C sort)" ] || { echo "  holds: $(tr '\n' ' ' <<< "$listing")"; return 1; }
}
check "$zip holds exactly savefix.exe, README.txt, LICENSE.txt, THIRD-PARTY-NOTICES.txt" \
  holds_exactly "$(unzip -Z1 "$dist/$zip" | LC_ALL=C sort)" savefix.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt
# The Linux archive unpacks into one folder named after it, and nowhere else.
top=${tgz%.tar.gz}
tar -tzf "$dist/$tgz" > "$work/members"
# Prints and fails on any member outside the folder, ".." included.
all_under_top() { awk -v top="$top/" 'index($0, top) != 1 || /(^|\/)\.\.(\/|$)/ { print "  outside: " $0; bad = 1 } END { exit bad }' "$work/members"; }
check "every member of $tgz lies under $top/" all_under_top
check "$top/ holds exactly savefix, README.md, LICENSE, THIRD-PARTY-NOTICES" \
  holds_exactly "$(LC_ALL=C sort "$work/members")" "$top/" "$top/savefix" "$top/README.md" "$top/LICENSE" "$top/THIRD-PARTY-NOTICES"
every_line_crlf() { [ -s "$1" ] && LC_ALL=C awk '!/\r$/ { bad = 1 } END { exit bad }' "$1"; }
unzip -p "$dist/$zip" README.txt > "$work/README.txt"
check "README.txt ends every line in CR LF" every_line_crlf "$work/README.txt"
is_static() { grep -q 'not a dynamic executable' <<< "$(LC_ALL=C ldd "$1" 2>&1)"; }
check "the Linux savefix is linked statically" is_static "$dist/savefix"
check "sha256sum -c SHA256SUMS passes in dist/" bash -c "cd '$dist' && sha256sum -c --quiet SHA256SUMS"

# The packed savefix.exe is the file the Wine scenario table ran on.
if [ -f "$root/build/win32/savefix.exe" ] && [ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  check "the packed savefix.exe is build/win32/savefix.exe, which the wine preset tests" \
    cmp -s "$dist/savefix.exe" "$root/build/win32/savefix.exe"
else
  echo "note: not compared with build/win32/savefix.exe (not built, or this checkout has uncommitted changes)"
fi
finish
