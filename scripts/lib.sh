# shellcheck shell=bash
# What the project's shell scripts (scripts/, tests/*.sh, bench/) share,
# written here once: the game's registry key and value, the environment Wine
# runs in for us, a Wine prefix laid out by hand, a script's usage. Sourced:
#
#   . "$(dirname "$0")/lib.sh"      # from scripts/; ../scripts/lib.sh elsewhere
#
# Sourcing it defines the names below and does nothing else.

# ---- The game ------------------------------------------------------------------

# The key the game's installer writes under HKEY_LOCAL_MACHINE, as the 32-bit
# savefix.exe reads it, and the value naming the install folder.
savefix_vendor=Quarrelstone
savefix_key="SOFTWARE\\$savefix_vendor\\Vellmoor\\1.0"
savefix_value=AppPath
# The same key as a 64-bit prefix holds it (its system.reg, a .reg file): the
# 32-bit programs' SOFTWARE is Software\Wow6432Node.
savefix_key_wow64="Software\\Wow6432Node\\${savefix_key#SOFTWARE\\}"

# ---- Wine ------------------------------------------------------------------------

# savefix_wine_env [PREFIX]: exports what every Wine run of ours gets: no
# debug output, no offer to install Mono or Gecko, and C.UTF-8, under which
# Wine reads Unix names as UTF-8 and its ANSI code page is 1252; with PREFIX,
# WINEPREFIX too.
savefix_wine_env() {
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
  [ $# -eq 0 ] || export WINEPREFIX="$1"
}

# savefix_z_path PATH: the Windows spelling of the absolute Unix PATH through
# the drive Z:, which Wine maps to /: /games/x is Z:\games\x.
savefix_z_path() { printf 'Z:%s\n' "${1//\//\\}"; }

# savefix_reg_escape TEXT: TEXT as a string between quotes in a .reg file or
# a system.reg: each \ and " behind a \.
savefix_reg_escape() {
  local text=${1//\\/\\\\}
  printf '%s\n' "${text//\"/\\\"}"
}

# savefix_hand_made_prefix DIR [APPPATH]: lays out, without Wine, as much of
# a Wine prefix as the native savefix reads: DIR/dosdevices/z: pointing to /
# and, with APPPATH (a Windows path such as 'Z:\games\vellmoor\'), a
# DIR/system.reg of a 64-bit prefix that holds the game's key and nothing
# else. Without APPPATH the caller puts a system.reg there. A prefix made by
# Wine (scripts/wine-prefix.sh) holds all the rest.
savefix_hand_made_prefix() {
  local dir=$1
  mkdir -p "$dir/dosdevices" && ln -sfn / "$dir/dosdevices/z:" || return 1
  [ $# -ge 2 ] || return 0
  printf 'WINE REGISTRY Version 2\n#arch=win64\n\n[%s] 0\n"%s"="%s"\n' "$(savefix_reg_escape "$savefix_key_wow64")" \
    "$savefix_value" "$(savefix_reg_escape "$2")" > "$dir/system.reg"
}

# ---- Scripts ---------------------------------------------------------------------

# savefix_usage [STATUS]: prints the running script's header comment (every
# line after the first up to the first that is no comment, without its "# ")
# and exits with STATUS: 0 prints to standard output, anything else (default
# 2, a wrong call) to standard error.
savefix_usage() {
  local status=${1:-2} out=2
  [ "$status" -ne 0 ] || out=1
  awk 'NR == 1 { next } !/^#/ { exit } { sub(/^# ?/, ""); print }' "$0" >&"$out"
  exit "$status"
}

# savefix_help "$@": prints the usage and exits 0 when the first argument asks
# for it (-h or --help).
savefix_help() {
  case ${1-} in -h | --help) savefix_usage 0 ;; esac
}

# savefix_die MESSAGE...: prints "SCRIPT: MESSAGE" to standard error, exits 1.
savefix_die() {
  echo "${0##*/}: $*" >&2
  exit 1
}

# savefix_every_core: builds and tests on every core unless told otherwise
# (the presets name no job count).
savefix_every_core() {
  export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
  export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
}
