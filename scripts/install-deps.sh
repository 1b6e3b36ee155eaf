#!/usr/bin/env bash
# Installs from Debian's packages (as root) what is missing for building
# savefix.exe ("build"); for that and the quick loop, the native preset's
# build and tests ("native", what the demo installs); for a release
# ("release": the build, the native scenario table, the packing tools and
# the desktop entry's validator); or for all that, every test and the
# benchmark ("test").
#
#   bash scripts/install-deps.sh [build|native|release|test]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
savefix_help "$@"
what=${1:-test}
[ $# -le 1 ] && [[ $what =~ ^(build|native|release|test)$ ]] || savefix_usage

need=()
have() { command -v "$1" > /dev/null 2>&1; }
have cmake || need+=(cmake)
have g++ || need+=(g++)
have i686-w64-mingw32-g++ || need+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
if [ "$what" != build ]; then
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  # Its sources, which the win32 preset builds the Windows contract test with.
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
fi
if [ "$what" = native ] || [ "$what" = test ]; then
  have strace || need+=(strace)
fi
if [ "$what" = release ] || [ "$what" = test ]; then
  have git || need+=(git)
  have zip || need+=(zip)
  have unzip || need+=(unzip)
  have desktop-file-validate || need+=(desktop-file-utils)
fi
if [ "$what" = test ]; then
  have clang++ || need+=(clang)
  have hyperfine || need+=(hyperfine)
  have jq || need+=(jq)
  have gnuplot || need+=(gnuplot-nox)
  [ -x /usr/bin/time ] || need+=(time)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a > /dev/null 2>&1 ||
    need+=(libclang-rt-dev)
fi

if [ "${#need[@]}" -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" > /dev/null
fi
