#!/usr/bin/env bash
# Times savefix (native build), savefix.exe under Wine and a hand-written
# shell script doing the same job on three save-directory layouts, and the
# native program on two Wine-prefix layouts; checks every result. hyperfine
# does the timing, GNU time measures peak memory. See bench/README.md.
#
#   bash bench/run.sh [--layouts small,typical,large,prefix,steam100]
#                     [--programs native,wine,shell] [--csv FILE] [--keep]
#
# Environment: BENCH_DIR (where the temporary install goes; default /tmp, or
# /var/tmp when /tmp is tmpfs), BENCH_RUNS (timed runs per program and layout,
# default 5), BENCH_RUNS_WINE (timed runs for Wine, default 3), BENCH_KEEP=1
# (same as --keep: leave the work directory behind).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

layouts=small,typical,large,prefix,steam100
programs=native,wine,shell
csv=
keep=${BENCH_KEEP:-0}
runs=${BENCH_RUNS:-5}
runs_wine=${BENCH_RUNS_WINE:-3}

usage() {
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit "${1:-0}"
}

while [ $# -gt 0 ]; do
  case "$1" in
    --layouts) layouts=${2:?}; shift 2 ;;
    --layouts=*) layouts=${1#*=}; shift ;;
    --programs) programs=${2:?}; shift 2 ;;
    --programs=*) programs=${1#*=}; shift ;;
    --csv) csv=${2:?}; shift 2 ;;
    --csv=*) csv=${1#*=}; shift ;;
    --keep) keep=1; shift ;;
    -h | --help) usage 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; usage 2 ;;
  esac
done

die() {
  echo "run.sh: $*" >&2
  exit 1
}

# Layout name -> "count bytes-per-save". The prefix layouts are the native
# program's: "prefix" is a fresh Wine prefix with the game's key and an empty
# SaveGames; "steam100" is a home holding a Steam library of 100 prefixes,
# none with the key.
layout_shape() {
  case "$1" in
    small) echo "200 65536" ;;
    typical) echo "50 1048576" ;;
    large) echo "1 268435456" ;;
    prefix | steam100) echo "0 0" ;;
    *) return 1 ;;
  esac
}
native_only() { [ "$1" = prefix ] || [ "$1" = steam100 ]; }

IFS=, read -r -a layout_list <<< "$layouts"
IFS=, read -r -a program_list <<< "$programs"
for l in "${layout_list[@]}"; do
  layout_shape "$l" > /dev/null || die "unknown layout '$l' (small, typical, large, prefix, steam100)"
done
for p in "${program_list[@]}"; do
  case "$p" in native | wine | shell) ;; *) die "unknown program '$p' (native, wine, shell)" ;; esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "BENCH_RUNS must be a positive number"
[[ "$runs_wine" =~ ^[1-9][0-9]*$ ]] || die "BENCH_RUNS_WINE must be a positive number"
if [ -n "$csv" ]; then
  mkdir -p "$(dirname "$csv")"
  csv=$(cd "$(dirname "$csv")" && pwd)/$(basename "$csv")
fi

wants() {
  local p
  for p in "${program_list[@]}"; do [ "$p" = "$1" ] && return 0; done
  return 1
}
wants_layout() {
  local l
  for l in "${layout_list[@]}"; do [ "$l" = "$1" ] && return 0; done
  return 1
}

command -v hyperfine > /dev/null || die "hyperfine is missing (bash scripts/install-deps.sh test installs it)"
[ -x /usr/bin/time ] || die "GNU time (/usr/bin/time) is missing (bash scripts/install-deps.sh test installs it)"
command -v jq > /dev/null || die "jq is missing (bash scripts/install-deps.sh test installs it)"

# ---- Work directory on a disk-backed file system ---------------------------

fs_type() { stat -f -c %T "$1"; }
if [ -n "${BENCH_DIR:-}" ]; then
  mkdir -p "$BENCH_DIR"
  base=$BENCH_DIR
  [ "$(fs_type "$base")" = tmpfs ] && echo "run.sh: warning: BENCH_DIR $base is tmpfs (memory), not a disk" >&2
else
  base=/tmp
  if [ "$(fs_type /tmp)" = tmpfs ]; then base=/var/tmp; fi
  [ "$(fs_type "$base")" = tmpfs ] && die "/tmp and /var/tmp are both tmpfs; set BENCH_DIR to a disk path"
fi
work=$(mktemp -d "$base/savefix-bench.XXXXXX")
case "$work" in *\\* | *\"* | *\ * | *\'*) die "work directory path $work has characters the registry cannot carry" ;; esac

prefix=$work/wineprefix
wine_up=0
cleanup() {
  if [ "$wine_up" = 1 ]; then
    WINEPREFIX=$prefix wineserver -k 2> /dev/null || true
    WINEPREFIX=$prefix wineserver -w 2> /dev/null || true
  fi
  if [ "$keep" = 1 ]; then
    echo "run.sh: work directory kept: $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- Programs and the Wine prefix -------------------------------------------

native_exe=$root/build/native/savefix
wine_exe=$root/build/win32/savefix.exe

# Builds only the savefix target of a preset; its tests are not needed here.
build_preset() {
  echo "run.sh: building the $1 preset" >&2
  (cd "$root" && cmake --preset "$1" > "$work/build-$1.log" 2>&1 &&
    cmake --build --preset "$1" --target savefix >> "$work/build-$1.log" 2>&1) ||
    { cat "$work/build-$1.log" >&2; die "building the $1 preset failed"; }
}
if wants native && [ ! -x "$native_exe" ]; then build_preset native; fi
if wants wine && [ ! -f "$wine_exe" ]; then build_preset win32; fi

g++ -std=c++17 -O2 -o "$work/benchtool" "$here/benchtool.cpp" || die "cannot build bench/benchtool.cpp"
tool=$work/benchtool

game=$work/game
saves=$game/SaveGames
mkdir -p "$saves"

wine_note=
if wants wine || wants native; then
  echo "run.sh: creating a Wine prefix in $prefix" >&2
  bash "$root/scripts/wine-setup.sh" > "$work/wine-setup.log" 2>&1 ||
    { cat "$work/wine-setup.log" >&2; die "Wine setup failed"; }
  bash "$root/scripts/wine-prefix.sh" "$prefix" "Z:${game//\//\\}\\" > "$work/wine-prefix.log" 2>&1 ||
    { cat "$work/wine-prefix.log" >&2; die "making the Wine prefix failed"; }
  wine_note=native
  /usr/lib/wine/wine --version > /dev/null 2>&1 || wine_note="?"
  if [ -r /proc/sys/fs/binfmt_misc/savefix-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/savefix-i386; then
    wine_note="emulated (qemu-i386 user mode)"
  fi
fi

steam_home=$work/steamhome
if wants native && wants_layout steam100; then
  echo "run.sh: laying out a Steam library of 100 prefixes without the key" >&2
  bash "$root/scripts/wine-prefix.sh" "$work/keyless" > "$work/keyless.log" 2>&1 ||
    { cat "$work/keyless.log" >&2; die "making the keyless Wine prefix failed"; }
  steam=$steam_home/.local/share/Steam
  mkdir -p "$steam/steamapps"
  printf '"libraryfolders"\n{\n\t"0"\n\t{\n\t\t"path"\t\t"%s"\n\t}\n}\n' "$steam" > "$steam/steamapps/libraryfolders.vdf"
  for ((i = 0; i < 100; i++)); do
    pfx=$steam/steamapps/compatdata/$((220000 + i * 10))/pfx
    mkdir -p "$pfx"
    cp "$work/keyless/system.reg" "$pfx/system.reg"
  done
  rm -rf "$work/keyless"
fi

# ---- Preamble ---------------------------------------------------------------

cpu=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
mem=$(free -h | awk '/^Mem:/ {print $2}')
echo "savefix benchmark"
echo "  machine:   $(nproc) CPUs, $cpu, $mem RAM, kernel $(uname -r)"
echo "  bench dir: $work ($(df -PT "$work" | awk 'NR==2 {print $2 " on " $1}'))"
echo "  tools:     $(hyperfine --version) for the times, GNU time (/usr/bin/time -f %M) for peak memory"
echo "  runs:      $runs timed (+1 warm-up, +1 for memory) per program and layout; Wine: $runs_wine (+1, +1)"
wants native && echo "  native:    $native_exe ($(sha256sum "$native_exe" | cut -c1-12)), WINEPREFIX=$prefix"
wants wine && echo "  wine:      $wine_exe ($(sha256sum "$wine_exe" | cut -c1-12)), $(wine --version 2>/dev/null), 32-bit code $wine_note"
wants shell && echo "  shell:     bash bench/shell_peer.sh (cp + stat + dd per save)"
echo

# ---- One layout and program -------------------------------------------------

# Results, one line per layout and program:
# layout program runs median min max mib_s peak_mib bytes files
results=()

out=$work/out.txt
err=$work/err.txt
fault=$work/fault.txt
first=$work/first-run

# The command of a program on a layout, into the arrays `environment` (the
# arguments of env) and `cmd`.
set_command() {
  local layout=$1 program=$2
  case "$program" in
    native)
      cmd=("$native_exe")
      if [ "$layout" = steam100 ]; then
        environment=(-u WINEPREFIX "HOME=$steam_home")
      else
        environment=("WINEPREFIX=$prefix")
      fi ;;
    wine)
      cmd=(wine "$wine_exe")
      environment=("WINEPREFIX=$prefix" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=") ;;
    shell)
      cmd=(bash "$here/shell_peer.sh" "$saves")
      environment=() ;;
  esac
}

# Writes the script hyperfine runs before each run: it checks the previous
# run's result (none before the first) and lays out the saves afresh. The
# steam100 layout has no saves; each of its runs must find no install.
write_prepare() {
  local script=$1 orig=$2 layout=$3
  {
    printf 'set -e\nexec > /dev/null 2> %q\n' "$fault"
    printf 'if [ -e %q ]; then rm %q; first=1; else first=0; fi\n' "$first" "$first"
    if [ "$layout" = steam100 ]; then
      printf '[ "$first" = 1 ] || grep -qx "Failed reading registry" %q || { echo "no \\"Failed reading registry\\" line in %q" >&2; exit 1; }\n' "$out" "$out"
      printf ': > %q\n' "$out"
    else
      printf 'if [ "$first" = 1 ]; then %q layout %q %q; else %q layout %q %q %q; fi\n' \
        "$tool" "$orig" "$saves" "$tool" "$orig" "$saves" "$out"
      printf 'sync\n'
    fi
  } > "$script"
}
check_result() {
  local orig=$1 layout=$2
  if [ "$layout" = steam100 ]; then
    grep -qx "Failed reading registry" "$out" || { echo "no \"Failed reading registry\" line in $out" > "$fault"; return 1; }
  else
    "$tool" check "$orig" "$saves" "$out" 2> "$fault"
  fi
}
wrong_result() {
  cat "$fault" >&2
  head -c 2000 "$out" >&2
  echo >&2
  die "$1/$2 gave a wrong result; not counted, stopping"
}

run_program() {
  local layout=$1 program=$2 orig=$3 count=$4 bytes=$5
  local n=$runs
  [ "$program" = wine ] && n=$runs_wine
  local -a environment cmd
  set_command "$layout" "$program"
  local text json=$work/$layout-$program.json
  printf -v text '%q ' "${cmd[@]}"
  write_prepare "$work/prepare.sh" "$orig" "$layout"

  # No shell between hyperfine and the program (-N). The program's output
  # goes to hyperfine's own standard output, opened for appending, so that
  # the preparation can check it and empty it between runs.
  echo "run.sh: $layout/$program: hyperfine, 1 warm-up + $n runs" >&2
  : > "$out"
  : > "$first"
  rm -f "$fault"
  if ! env "${environment[@]}" hyperfine -N --style none --output inherit --warmup 1 --runs "$n" \
    --prepare "bash $(printf %q "$work/prepare.sh")" --export-json "$json" "$text" >> "$out" 2> "$err"; then
    [ -s "$fault" ] && wrong_result "$layout" "$program"
    cat "$err" >&2
    die "$layout/$program failed under hyperfine"
  fi
  check_result "$orig" "$layout" || wrong_result "$layout" "$program"

  echo "run.sh: $layout/$program: peak memory (GNU time), 1 run" >&2
  "$tool" layout "$orig" "$saves"
  sync
  local status=0
  env "${environment[@]}" /usr/bin/time -f %M -o "$work/mem.txt" "${cmd[@]}" < /dev/null > "$out" 2> "$err" || status=$?
  [ "$status" = 0 ] || { cat "$err" >&2; die "$layout/$program exited with status $status"; }
  check_result "$orig" "$layout" || wrong_result "$layout" "$program"

  local med lo hi mibs peak
  read -r med lo hi < <(jq -r '.results[0] | "\(.median) \(.min) \(.max)"' "$json")
  mibs=-
  if [ "$count" -gt 0 ]; then
    mibs=$(awk -v b="$count" -v s="$bytes" -v t="$med" 'BEGIN {printf "%.2f", b * s / 1048576 / t}')
  fi
  peak=$(awk -v k="$(tail -n 1 "$work/mem.txt")" 'BEGIN {printf "%.1f", k / 1024}')
  printf 'run.sh: %s/%s: median %.4f s (min %.4f, max %.4f), peak %s MiB, every result checked\n' \
    "$layout" "$program" "$med" "$lo" "$hi" "$peak" >&2
  results+=("$layout $program $n $med $lo $hi $mibs $peak $((count * bytes)) $count")
}

for layout in "${layout_list[@]}"; do
  read -r count bytes <<< "$(layout_shape "$layout")"
  orig=$work/orig/$layout
  mkdir -p "$orig"
  echo "run.sh: laying out $layout: $count saves of $bytes bytes" >&2
  "$tool" gen "$orig" "$count" "$bytes"
  for program in "${program_list[@]}"; do
    if native_only "$layout" && [ "$program" != native ]; then continue; fi
    if [ "$program" = wine ] && [ "$wine_up" = 0 ]; then
      # Kept up between runs; it goes away by itself a minute after the last client.
      WINEPREFIX=$prefix wineserver -p60 < /dev/null > /dev/null 2>&1
      wine_up=1
    fi
    run_program "$layout" "$program" "$orig" "$count" "$bytes"
  done
  [ "$keep" = 1 ] || rm -rf "$orig"
done

# ---- Report -----------------------------------------------------------------

# The shell script's median on a layout, empty when it did not run.
shell_median() {
  local r l p m
  for r in "${results[@]}"; do
    read -r l p _ m _ <<< "$r"
    if [ "$l" = "$1" ] && [ "$p" = shell ]; then echo "$m"; return; fi
  done
}

table_rows=()
for r in "${results[@]}"; do
  read -r layout program n med lo hi mibs peak bytes count <<< "$r"
  base_med=$(shell_median "$layout")
  ratio=-
  if [ -n "$base_med" ]; then ratio=$(awk -v a="$med" -v b="$base_med" 'BEGIN {printf "%.2f", a / b}'); fi
  table_rows+=("$layout $program $n $med $lo $hi $mibs $peak $ratio $bytes $count")
done

echo
printf '%-8s %-7s %4s %10s %10s %10s %9s %9s %9s\n' layout program runs "median s" "min s" "max s" "MiB/s" "peak MiB" "vs shell"
for r in "${table_rows[@]}"; do
  read -r layout program n med lo hi mibs peak ratio bytes count <<< "$r"
  printf '%-8s %-7s %4s %10.4f %10.4f %10.4f %9s %9s %9s\n' "$layout" "$program" "$n" "$med" "$lo" "$hi" "$mibs" "$peak" "$ratio"
done
echo "(times: hyperfine, wall clock per run; MiB/s = save bytes in the layout / median time;"
echo " peak MiB = GNU time's maximum resident set in a separate run, see README;"
echo " vs shell = median / the shell script's median on the same layout, lower is faster)"

# Peak memory per program across layouts: it should not grow with save size or count.
echo
printf '%-8s %22s %22s %22s\n' program "peak MiB small (64 KiB)" "typical (1 MiB)" "large (256 MiB)"
for program in "${program_list[@]}"; do
  cells=()
  for layout in small typical large; do
    v=-
    for r in "${table_rows[@]}"; do
      read -r l p _ _ _ _ _ peak _ <<< "$r"
      if [ "$l" = "$layout" ] && [ "$p" = "$program" ]; then v=$peak; fi
    done
    cells+=("$v")
  done
  printf '%-8s %22s %22s %22s\n' "$program" "${cells[@]}"
done
if wants wine; then
  echo "(wine peak: the one process wine runs the .exe in, including the qemu-i386 emulator if any;"
  echo " wineserver and Wine's service processes started before the run are not included)"
fi

if [ -n "$csv" ]; then
  {
    echo "layout,program,runs,median_s,min_s,max_s,mib_per_s,peak_mib,ratio_vs_shell,save_bytes,saves"
    for r in "${table_rows[@]}"; do
      read -r layout program n med lo hi mibs peak ratio bytes count <<< "$r"
      echo "$layout,$program,$n,$med,$lo,$hi,$mibs,$peak,$ratio,$bytes,$count"
    done
  } > "$csv"
  echo
  echo "CSV written to $csv"
fi
