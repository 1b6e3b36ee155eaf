#!/usr/bin/env bash
# Makes two releases of HEAD, from two fresh clones in different directories,
# one after the other, with different umasks, time zones and locales, and
# checks that they are the same bytes; then checks what the packages hold,
# and that the desktop entry, run as a file manager runs it, starts the
# savefix beside it in its folder.
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
check "$top/ holds exactly savefix, savefix.desktop, README.md, LICENSE, THIRD-PARTY-NOTICES" \
  holds_exactly "$(LC_ALL=C sort "$work/members")" "$top/" "$top/savefix" "$top/savefix.desktop" "$top/README.md" \
  "$top/LICENSE" "$top/THIRD-PARTY-NOTICES"

# The desktop entry (release.sh has run desktop-file-validate on it). File
# managers trust one outside the menus only when it is executable.
packed_mode() { tar -tvzf "$dist/$tgz" | awk -v name="$top/$1" '$6 == name { print $1 }'; }
check "savefix.desktop is packed executable" test "$(packed_mode savefix.desktop)" = -rwxr-xr-x

# launch ENTRY: runs the Exec line of the desktop entry ENTRY as a file
# manager does on a double-click, from another folder: the value's escapes
# (\s \n \t \r \\) undone, then split into arguments at spaces outside double
# quotes, inside which \" \` \$ \\ stand for the character, and the argument
# %k replaced by the entry's path. Refuses what the format does not allow or
# leaves to each launcher to read its own way (another escape, a reserved
# character outside quotes, an open quote, another field code) and an entry
# without Terminal=true, whose run nobody would see.
launch() {
  local entry=$1 value text="" c i quoted=0 started=0 arg="" args=()
  grep -qx 'Terminal=true' "$entry" || { echo "  no Terminal=true"; return 1; }
  value=$(sed -n '/^\[Desktop Entry\]/,/^\[/ s/^Exec=//p' "$entry")
  for ((i = 0; i < ${#value}; i++)); do
    c=${value:i:1}
    if [ "$c" = '\' ]; then
      i=$((i + 1))
      case ${value:i:1} in
        s) c=' ' ;;
        n) c=$'\n' ;;
        t) c=$'\t' ;;
        r) c=$'\r' ;;
        '\') c='\' ;;
        *) echo "  escape \\${value:i:1} in the Exec value"; return 1 ;;
      esac
    fi
    text+=$c
  done
  for ((i = 0; i < ${#text}; i++)); do
    c=${text:i:1}
    if [ "$quoted" = 1 ]; then
      case $c in
        '"') quoted=0 ;;
        '\')
          i=$((i + 1))
          c=${text:i:1}
          case $c in '"' | '`' | '$' | '\') arg+=$c ;; *) echo "  \\$c in a quoted argument"; return 1 ;; esac ;;
        *) arg+=$c ;;
      esac
    else
      case $c in
        ' ') [ "$started" = 0 ] || args+=("$arg"); arg="" started=0 ;;
        '"') quoted=1 started=1 ;;
        $'\t' | $'\n' | "'" | '\' | '>' | '<' | '~' | '|' | '&' | ';' | '$' | '*' | '?' | '#' | '(' | ')' | '`')
          echo "  reserved character $c outside quotes"; return 1 ;;
        *) arg+=$c started=1 ;;
      esac
    fi
  done
  [ "$quoted" = 0 ] || { echo "  a quote left open"; return 1; }
  [ "$started" = 0 ] || args+=("$arg")
  for ((i = 0; i < ${#args[@]}; i++)); do
    case ${args[i]} in
      %k) args[i]=$entry ;;
      *%*) echo "  field code in ${args[i]}"; return 1 ;;
    esac
  done
  (cd / && "${args[@]}")
}
# Where a player unpacked the package, in a folder whose name holds a space
# and a quote, beside a stand-in savefix that records where it runs and with
# how many arguments.
beside="$work/launch/My Games/Vellmoor's savefix"
mkdir -p "$beside"
tar -xzf "$dist/$tgz" -C "$beside" --strip-components=1 "$top/savefix.desktop"
printf '#!/bin/sh\n{ pwd -P; echo "$#"; } > "$SAVEFIX_LAUNCH_RECORD"\n' > "$beside/savefix"
chmod 0755 "$beside/savefix"
runs_savefix_beside_it() {
  local record=$work/launch/record
  SAVEFIX_LAUNCH_RECORD=$record launch "$beside/savefix.desktop" || return 1
  [ "$(cat "$record" 2> /dev/null)" = "$(cd "$beside" && pwd -P)"$'\n'0 ] ||
    { echo "  ran in, with this many arguments: $(tr '\n' ' ' < "$record" 2> /dev/null)"; return 1; }
}
check "savefix.desktop, double-clicked, runs the savefix beside it in a terminal, in its folder" runs_savefix_beside_it
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
