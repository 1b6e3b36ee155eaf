#!/usr/bin/env bash
# Times savefix (native build), savefix.exe under Wine and a hand-written
# shell script doing the same job, on three save-directory layouts, and
# checks every result. See bench/README.md.
#
#   bash bench/run.sh [--layouts small,typical,large] [--programs native,wine,shell]
#                     [--csv FILE] [--keep]
#
# Environment: BENCH_DIR (where the temporary install goes; default /tmp, or
# /var/tmp when /tmp is tmpfs), BENCH_RUNS (timed runs per program and layout,
# default 5), BENCH_RUNS_WINE (timed runs for Wine, default 3), BENCH_KEEP=1
# (same as --keep: leave the work directory behind).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

layouts=small,typical,large
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

# Layout name -> "count bytes-per-save".
layout_shape() {
  case "$1" in
    small) echo "200 65536" ;;
    typical) echo "50 1048576" ;;
    large) echo "1 268435456" ;;
    *) return 1 ;;
  esac
}

IFS=, read -r -a layout_list <<< "$layouts"
IFS=, read -r -a program_list <<< "$programs"
for l in "${layout_list[@]}"; do layout_shape "$l" > /dev/null || die "unknown layout '$l' (small, typical, large)"; done
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
case "$work" in *\\* | *\"* | *\ *) die "work directory path $work has characters the registry files cannot carry" ;; esac

wine_up=0
cleanup() {
  if [ "$wine_up" = 1 ]; then
    wineserver -k 2> /dev/null || true
    wineserver -w 2> /dev/null || true
  fi
  if [ "$keep" = 1 ]; then
    echo "run.sh: work directory kept: $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- Programs ---------------------------------------------------------------

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

if wants wine; then
  export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  echo "run.sh: creating a Wine prefix in $WINEPREFIX" >&2
  bash "$root/scripts/wine-setup.sh" "$WINEPREFIX" > "$work/wine-setup.log" 2>&1 ||
    { cat "$work/wine-setup.log" >&2; die "Wine setup failed"; }
  wine_up=1
  # Kept up between runs; it goes away by itself a minute after the last client.
  wineserver -p60 < /dev/null > /dev/null 2>&1
  wine_note=native
  /usr/lib/wine/wine --version > /dev/null 2>&1 || wine_note="?"
  if [ -r /proc/sys/fs/binfmt_misc/savefix-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/savefix-i386; then
    wine_note="emulated (qemu-i386 user mode)"
  fi
fi

# ---- Preamble ---------------------------------------------------------------

cpu=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
mem=$(free -h | awk '/^Mem:/ {print $2}')
echo "savefix benchmark"
echo "  machine:   $(nproc) CPUs, $cpu, $mem RAM, kernel $(uname -r)"
echo "  bench dir: $work ($(df -PT "$work" | awk 'NR==2 {print $2 " on " $1}'))"
echo "  runs:      $runs timed (+1 warm-up) per program and layout; Wine: $runs_wine (+1 warm-up)"
wants native && echo "  native:    $native_exe ($(sha256sum "$native_exe" | cut -c1-12))"
wants wine && echo "  wine:      $wine_exe ($(sha256sum "$wine_exe" | cut -c1-12)), $(wine --version 2>/dev/null), 32-bit code $wine_note"
wants shell && echo "  shell:     bash bench/shell_peer.sh (cp + stat + dd per save)"
echo

# ---- One layout -------------------------------------------------------------

# Results, one line per layout and program:
# layout program runs median min max mib_s rss_mib bytes files
results=()

median() { sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

restore() {
  local dir=$1
  find "$dir/game/SaveGames" -mindepth 1 -delete
  cp "$dir"/orig/*.HDR "$dir/game/SaveGames/"
  # Start each run with nothing left to write back from the restore.
  sync
}

run_program() {
  local layout=$1 program=$2 dir=$3 count=$4 bytes=$5
  local n=$runs
  local -a cmd
  case "$program" in
    native) cmd=(env "SAVEFIX_REGISTRY=$dir/native.reg" "$native_exe") ;;
    wine) cmd=(wine "$wine_exe"); n=$runs_wine ;;
    shell) cmd=(bash "$here/shell_peer.sh" "$dir/game/SaveGames") ;;
  esac
  local i walls=() rss_max=0 line wall rss status label
  for ((i = 0; i <= n; i++)); do
    restore "$dir"
    label="run $i/$n"
    if [ "$i" = 0 ]; then label="warm-up"; fi
    line=$("$tool" run /dev/null "$dir/out.txt" "$dir/err.txt" -- "${cmd[@]}")
    read -r wall rss status <<< "$line"
    if [ "$status" != 0 ]; then
      cat "$dir/err.txt" >&2
      die "$layout/$program $label exited with status $status"
    fi
    if ! "$tool" check "$dir/orig" "$dir/game/SaveGames" "$dir/out.txt"; then
      head -c 2000 "$dir/out.txt" >&2
      die "$layout/$program $label gave a wrong result; not counted, stopping"
    fi
    printf '  %-8s %-7s %-9s %9.3f s  %8.1f MiB RSS  ok\n' "$layout" "$program" "$label" "$wall" \
      "$(awk -v k="$rss" 'BEGIN {print k / 1024}')" >&2
    if [ "$i" -gt 0 ]; then
      walls+=("$wall")
      if [ "$rss" -gt "$rss_max" ]; then rss_max=$rss; fi
    fi
  done
  local med lo hi mibs rss_mib
  med=$(printf '%s\n' "${walls[@]}" | median)
  lo=$(printf '%s\n' "${walls[@]}" | sort -g | head -n1)
  hi=$(printf '%s\n' "${walls[@]}" | sort -g | tail -n1)
  mibs=$(awk -v b="$count" -v s="$bytes" -v t="$med" 'BEGIN {printf "%.2f", b * s / 1048576 / t}')
  rss_mib=$(awk -v k="$rss_max" 'BEGIN {printf "%.1f", k / 1024}')
  results+=("$layout $program $n $med $lo $hi $mibs $rss_mib $((count * bytes)) $count")
}

for layout in "${layout_list[@]}"; do
  read -r count bytes <<< "$(layout_shape "$layout")"
  dir=$work/$layout
  mkdir -p "$dir/orig" "$dir/game/SaveGames"
  echo "run.sh: laying out $layout: $count saves of $bytes bytes" >&2
  "$tool" gen "$dir/orig" "$count" "$bytes"
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrelstone\\Vellmoor\\1.0]\n"AppPath"="%s/game/"\n' \
    "$dir" > "$dir/native.reg"
  if wants wine; then
    winpath="Z:${dir//\//\\\\}\\\\game\\\\"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrelstone\\Vellmoor\\1.0]\r\n"AppPath"="%s"\r\n' \
      "$winpath" > "$dir/wine.reg"
    wine reg import "Z:${dir//\//\\}\\wine.reg" /reg:32 > "$dir/reg.txt" 2>&1 ||
      { cat "$dir/reg.txt" >&2; die "wine reg import failed"; }
  fi
  for program in "${program_list[@]}"; do
    run_program "$layout" "$program" "$dir" "$count" "$bytes"
  done
  [ "$keep" = 1 ] || rm -rf "$dir"
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
  read -r layout program n med lo hi mibs rss bytes count <<< "$r"
  base_med=$(shell_median "$layout")
  ratio=-
  if [ -n "$base_med" ]; then ratio=$(awk -v a="$med" -v b="$base_med" 'BEGIN {printf "%.2f", a / b}'); fi
  table_rows+=("$layout $program $n $med $lo $hi $mibs $rss $ratio $bytes $count")
done

echo
printf '%-8s %-7s %4s %10s %10s %10s %9s %9s %9s\n' layout program runs "median s" "min s" "max s" "MiB/s" "RSS MiB" "vs shell"
for r in "${table_rows[@]}"; do
  read -r layout program n med lo hi mibs rss ratio bytes count <<< "$r"
  printf '%-8s %-7s %4s %10.4f %10.4f %10.4f %9s %9s %9s\n' "$layout" "$program" "$n" "$med" "$lo" "$hi" "$mibs" "$rss" "$ratio"
done
echo "(MiB/s = save bytes in the layout / median wall time; RSS = peak resident set, see README;"
echo " vs shell = median / the shell script's median on the same layout, lower is faster)"

# Peak memory per program across layouts: it should not grow with save size or count.
echo
printf '%-8s %22s %22s %22s\n' program "RSS MiB small (64 KiB)" "typical (1 MiB)" "large (256 MiB)"
for program in "${program_list[@]}"; do
  cells=()
  for layout in small typical large; do
    v=-
    for r in "${table_rows[@]}"; do
      read -r l p _ _ _ _ _ rss _ <<< "$r"
      if [ "$l" = "$layout" ] && [ "$p" = "$program" ]; then v=$rss; fi
    done
    cells+=("$v")
  done
  printf '%-8s %22s %22s %22s\n' "$program" "${cells[@]}"
done
if wants wine; then
  echo "(wine RSS: the one process wine runs the .exe in, including the qemu-i386 emulator;"
  echo " wineserver and Wine's service processes started before the run are not included)"
fi

if [ -n "$csv" ]; then
  {
    echo "layout,program,runs,median_s,min_s,max_s,mib_per_s,peak_rss_mib,ratio_vs_shell,save_bytes,saves"
    for r in "${table_rows[@]}"; do
      read -r layout program n med lo hi mibs rss ratio bytes count <<< "$r"
      echo "$layout,$program,$n,$med,$lo,$hi,$mibs,$rss,$ratio,$bytes,$count"
    done
  } > "$csv"
  echo
  echo "CSV written to $csv"
fi
