#!/usr/bin/env bash
# Makes a release of the commit checked out here (Debian 12, as root for any
# missing packages), into dist/:
#
#   savefix-<version>-windows-x86.zip      savefix.exe, README.txt, LICENSE.txt,
#                                          THIRD-PARTY-NOTICES.txt
#   savefix-<version>-linux-x86_64.tar.gz  one folder savefix-<version>-linux-x86_64/
#                                          holding savefix, savefix.desktop (runs
#                                          it in a terminal on a double-click),
#                                          README.md, LICENSE, THIRD-PARTY-NOTICES
#   savefix.exe, savefix                   the two programs, unpacked from the
#                                          archives
#   SHA256SUMS                             of those four files
#
#   bash scripts/release.sh [--no-wine-tests]
#
# <version> is the project version in CMakeLists.txt; the release's tag is
# v<version>. savefix.exe is the win32 preset's build, the Linux savefix the
# release preset's static build, and the scenario table runs on each before
# they are packed: natively on savefix, under Wine on savefix.exe (the wine
# preset, whose differential test also compares the two programs), unless
# --no-wine-tests is given. Two releases of the same commit are the same
# bytes: SOURCE_DATE_EPOCH is the commit's time (from the environment when
# there is no .git), and every archive member gets that time, fixed modes and
# owners, in a fixed order. When no release is made, the last line says so
# and why: which step failed, or which tests, and whether they failed, timed
# out or found differences between the two programs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
savefix_help "$@"
savefix_every_core
root=$(pwd -P)

wine_tests=1
case "$*" in
  "") ;;
  --no-wine-tests) wine_tests=0 ;;
  *) savefix_usage ;;
esac

# Whatever ends this script before the release is made, its last line says
# so: $why, or else the step that was under way.
why='' doing="checking the source" stage='' log=''
finish() {
  local status=$?
  rm -rf "$stage" "$log"
  [ "$status" -eq 0 ] || echo "No release: ${why:-$doing failed (exit status $status)}" >&2
}
trap finish EXIT
no_release() {
  why=$*
  exit 1
}
step() {
  doing=$*
  echo "== $*"
}

# Which tests ctest's output (standard input) lists as failed, and how, in
# one line, or nothing: "wine.differential.3 timed out; differences in
# wine.differential.2 (3 cases); 2 tests failed: A, B". A test's output
# follows its result line, which is how a differential part's count of
# differing cases is told apart from another's.
failed_tests() {
  LC_ALL=C awk '
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { test = $0; sub(/^.*Test +#/, "", test); sub(/:.*/, "", test); next }
    /^ *Start +[0-9]+: / { test = ""; next }
    /^[0-9]+ case\(s\) differ/ && test != "" { differ[test] = $1 }
    /^The following tests FAILED:/ { listed = 1; next }
    listed && /^[ \t]+[0-9]+ - .* \([^()]*\)$/ {
      number = $1; line = $0
      sub(/^[ \t]+[0-9]+ - /, "", line)
      reason = line; sub(/.* \(/, "", reason); sub(/\)$/, "", reason)
      name = line; sub(/ \([^()]*\)$/, "", name); sub(/ +# GetParam\(\) = .*/, "", name)
      if (reason == "Timeout") {
        timed_out = timed_out (timed_out == "" ? "" : ", ") name
      } else if (reason == "Failed" && number in differ) {
        n = differ[number]
        differing = differing (differing == "" ? "" : ", ") name " (" n (n == 1 ? " case)" : " cases)")
      } else {
        failed++
        names = names (names == "" ? "" : ", ") name (reason == "Failed" ? "" : " (" reason ")")
      }
    }
    END {
      if (timed_out != "") why = timed_out " timed out"
      if (differing != "") why = why (why == "" ? "" : "; ") "differences in " differing
      if (failed > 0) why = why (why == "" ? "" : "; ") failed (failed == 1 ? " test" : " tests") " failed: " names
      print why
    }'
}
# Runs COMMAND... (a workflow or ctest), its output also kept; when it fails,
# $why names the tests that failed, if it names any.
run_tests() {
  local status=0
  log=${log:-$(mktemp "${TMPDIR:-/tmp}/savefix-release-log.XXXXXX")}
  "$@" 2>&1 | tee "$log" || status=$?
  [ "$status" -eq 0 ] || why=$(failed_tests < "$log")
  return "$status"
}
# True when this source tree is a git checkout of its own (not a copy that
# happens to lie inside another repository).
in_git_checkout() { [ "$(git rev-parse --show-toplevel 2> /dev/null)" = "$root" ]; }

# ---- The source: a clean checkout of one commit -----------------------------

if in_git_checkout; then
  [ -z "$(git status --porcelain --untracked-files=no)" ] ||
    no_release "the checkout has uncommitted changes; a release is made from a commit as it is"
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  source_name="commit $(git rev-parse HEAD)"
else
  [[ "${SOURCE_DATE_EPOCH:-}" =~ ^[0-9]+$ ]] ||
    no_release "no .git here: set SOURCE_DATE_EPOCH to the release commit's time (git log -1 --format=%ct)"
  source_name="a source tree without .git"
fi
export SOURCE_DATE_EPOCH

doing="installing what is missing"
bash scripts/install-deps.sh release
desktop-file-validate docs/savefix.desktop || no_release "docs/savefix.desktop is not a valid desktop entry"

# THIRD-PARTY-NOTICES names the Debian packages whose libraries end up inside
# the programs; it must name the ones this machine links.
arch=$(dpkg --print-architecture)
for package in "libc6-dev:$arch" "libstdc++-12-dev:$arch" mingw-w64-i686-dev g++-mingw-w64-i686-posix; do
  built_from=$(dpkg-query -W -f='${source:Package} ${source:Version}' "$package" 2> /dev/null) ||
    no_release "package $package is not installed"
  grep -qF "Debian source package $built_from" THIRD-PARTY-NOTICES && continue
  message="this machine links $package from $built_from, which THIRD-PARTY-NOTICES does not name; update it"
  # A trial build (the reproducibility test) may go on; a release may not.
  [ "${SAVEFIX_TRIAL_RELEASE:-0}" = 1 ] || no_release "$message"
  echo "release.sh: warning: $message" >&2
done

# ---- Build and test both programs -------------------------------------------

step "savefix.exe (win32 preset)"
run_tests cmake --workflow --preset win32
step "Static savefix for Linux and the scenario table on it (release preset)"
run_tests cmake --workflow --preset release
if [ "$wine_tests" = 1 ]; then
  # The differential test of the wine preset compares savefix.exe with the
  # native program: here, the two programs of the release.
  step "The scenario table on build/win32/savefix.exe under Wine, and savefix.exe against build/release/savefix (wine preset)"
  bash scripts/wine-setup.sh
  cmake --preset wine -DSAVEFIX_NATIVE_EXE="$root/build/release/savefix"
  cmake --build --preset wine
  wine_status=0
  run_tests ctest --preset wine || wine_status=$?
  [ "$wine_status" = 0 ] || exit "$wine_status"
fi

version=$(cat build/release/VERSION)
[ "$(cat build/win32/VERSION)" = "$version" ] || no_release "build/win32 and build/release disagree on the version"
tag=v$version
if in_git_checkout; then
  tags=$(git tag --points-at HEAD 'v*')
  if [ -n "$tags" ] && ! grep -qx "$tag" <<< "$tags"; then
    no_release "HEAD is tagged $(tr '\n' ' ' <<< "$tags")but the project version is $version"
  fi
fi

# ---- Pack ------------------------------------------------------------------

step "Packing $tag from $source_name, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
export TZ=UTC LC_ALL=C
windows_zip=savefix-$version-windows-x86.zip
linux_dir=savefix-$version-linux-x86_64
linux_tar=$linux_dir.tar.gz
stage=$(mktemp -d "${TMPDIR:-/tmp}/savefix-release.XXXXXX")
# The Linux archive unpacks into one folder of its own name; the zip stays
# flat, as Windows' "Extract all" makes the folder.
linux=$stage/linux/$linux_dir
mkdir -p "$stage/windows" "$linux"

# Windows tools such as Notepad want CR LF line ends.
with_crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1"; }

cp build/win32/savefix.exe "$stage/windows/savefix.exe"
with_crlf docs/windows-guide.txt > "$stage/windows/README.txt"
with_crlf LICENSE > "$stage/windows/LICENSE.txt"
with_crlf THIRD-PARTY-NOTICES > "$stage/windows/THIRD-PARTY-NOTICES.txt"

cp build/release/savefix "$linux/savefix"
cp docs/savefix.desktop "$linux/savefix.desktop"
cp docs/linux-guide.md "$linux/README.md"
cp LICENSE THIRD-PARTY-NOTICES "$linux/"

# Same modes and times whatever the umask and the clock of this build. File
# managers trust a desktop entry outside the menus only when it is executable.
chmod 0644 "$stage"/windows/* "$linux"/*
chmod 0755 "$stage/windows/savefix.exe" "$linux" "$linux/savefix" "$linux/savefix.desktop"
touch -h -d "@$SOURCE_DATE_EPOCH" "$stage"/windows/* "$linux" "$linux"/*

rm -rf dist
mkdir dist
# zip stores local times (TZ=UTC above); -X leaves out owners and extra times.
(cd "$stage/windows" && ls | sort | zip -q -X -D -9 "$root/dist/$windows_zip" -@)
(cd "$stage/linux" && find "$linux_dir" | sort |
  tar --create --format=gnu --no-recursion --verbatim-files-from --files-from=- \
    --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
    --mode='u+rw,go+r,go-w' |
  gzip -n -9 > "$root/dist/$linux_tar")

# The programs beside the archives, as SHA256SUMS names them: unpacked, the
# Linux one from its folder.
(cd dist && unzip -q "$windows_zip" savefix.exe && tar -xzf "$linux_tar" --strip-components=1 "$linux_dir/savefix")
(cd dist && sha256sum "$linux_tar" "$windows_zip" savefix savefix.exe > SHA256SUMS && sha256sum -c --quiet SHA256SUMS)

echo
echo "Release $tag in $root/dist:"
(cd dist && cat SHA256SUMS)
[ "$wine_tests" = 1 ] || echo "(the Wine scenario table was not run in this release run: --no-wine-tests)"
if [ -n "${tags+set}" ] && ! git rev-parse -q --verify "refs/tags/$tag" > /dev/null 2>&1; then
  echo "Not tagged yet: git tag -a $tag -m 'savefix $version' && git push origin $tag"
fi
