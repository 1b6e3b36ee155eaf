#!/usr/bin/env bash
# How the cost of savefix grows with the number of saves (1 to 10,000 saves of
# 300 bytes, and 1,000 of 4 KiB; a first run, and a second one over saves
# already fixed) and with their size (one save of 64 KiB to 256 MiB), next to
# a plain-copy baseline (bench/plain_copy.cpp), a shell script doing the same
# job (bench/shell_peer.sh) and, on the small points, savefix.exe under Wine;
# the count series again with the saves in memory (tmpfs), where a sync does
# not wait for the disk, for the program's own cost per save; a second run
# over 10,000 saves next to cat of the same saves; and what reading one Wine
# prefix and searching a Steam library of 100 prefixes cost, next to cat.
# hyperfine runs the points; bench/saves.sh lays the saves out before every
# run and checks what every run left; GNU time gives peak memory, gnuplot one
# picture per series. See bench/README.md.
#
#   bash bench/run.sh [--quick] [--out DIR]
#
# --quick: a smoke run on a few small points. DIR (default build/bench) gets
# table.txt, results.tsv, count.svg, size.svg, memory.svg and hyperfine's exports.
# BENCH_DIR: where the saves and prefixes go (default /var/tmp; not tmpfs).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
. "$root/scripts/lib.sh"
savefix_help "$@"
quick=0 out=$root/build/bench
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 && shift ;;
    --out) [ $# -ge 2 ] || savefix_usage; out=$2 && shift 2 ;;
    *) savefix_usage ;;
  esac
done
for tool in hyperfine jq gnuplot perl /usr/bin/time; do
  command -v "$tool" > /dev/null || savefix_die "$tool is missing (bash scripts/install-deps.sh test installs it)"
done

# Points are COUNTxBYTES. hyperfine runs each at least twice and at most 10
# times (as many as fit in 3 s), the native program and the baseline on the
# count and memory series at least 5 times; Wine gets a warm-up run first, as
# its first run in a fresh prefix starts Wine's services.
count_points=1x300,10x300,100x300,1000x300,10000x300,1000x4096
size_points=1x65536,1x262144,1x1048576,1x4194304,1x16777216,1x67108864,1x268435456
wine_count_points=1x300,10x300,100x300
wine_size_points=1x65536,1x262144,1x1048576
memory_points=100x300,1000x300,10000x300
floor_point=10000x300
runs=(--min-runs 2 --max-runs 10) more_runs=(--min-runs 5 --max-runs 10)
if [ "$quick" = 1 ]; then
  count_points=1x300,100x300 size_points=1x65536,1x1048576
  wine_count_points=1x300 wine_size_points=1x65536 memory_points=1x300,100x300 floor_point=100x300
  runs=(--runs 2) more_runs=(--runs 2)
fi

start=$SECONDS
savefix_every_core
# The native program is the Linux package's: static, optimised (the release preset).
native=$root/build/release/savefix exe=$root/build/win32/savefix.exe
for preset in release win32; do  # built afresh, so that no older program is measured
  echo "run.sh: building the $preset preset" >&2
  (cd "$root" && cmake --preset $preset && cmake --build --preset $preset --target savefix) > /dev/null ||
    savefix_die "building the $preset preset failed"
done

base=${BENCH_DIR:-/var/tmp}
[ "$(stat -f -c %T "$base")" != tmpfs ] || savefix_die "$base is tmpfs (memory); set BENCH_DIR to a folder on a disk"
work=$(mktemp -d "$base/savefix-bench.XXXXXX")
case "$root$work" in *[[:space:]\\\"\']*) savefix_die "paths with blanks or quotes cannot be benchmarked: $root, $work" ;; esac
export BENCH_WORK=$work
savefix_wine_env
# The Wine server may have gone by itself; it must not write into the prefix while it goes.
# The memory series' saves go to /dev/shm (tmpfs), or are not run where it is none.
memory=
[ "$(stat -f -c %T /dev/shm 2> /dev/null)" != tmpfs ] || memory=$(mktemp -d /dev/shm/savefix-bench.XXXXXX)
trap '(export WINEPREFIX=$work/wineprefix; wineserver -k; wineserver -w) 2> /dev/null || true; rm -rf "$work" $memory' EXIT
mkdir -p "$out" "$work/game/SaveGames" "$work/plot"
rm -f "$out/count.svg" "$out/size.svg" "$out/memory.svg"
saves=$work/game/SaveGames
g++ -std=c++17 -O2 -o "$work/plain_copy" "$here/plain_copy.cpp"
g++ -std=c++17 -O2 -o "$work/find_brackets" "$here/find_brackets.cpp"

# ---- Prefixes ---------------------------------------------------------------

# A prefix laid out by hand, holding REGISTRY_FILE as its system.reg.
hand_made_prefix() { savefix_hand_made_prefix "$1" && cp "$2" "$1/system.reg"; }
# DIR/tiny: a prefix laid out by hand whose game is installed in DIR/game.
tiny_prefix() { savefix_hand_made_prefix "$1/tiny" "$(savefix_z_path "$1/game")\\"; }
win_game="$(savefix_z_path "$work/game")\\"
tiny_prefix "$work"
echo "run.sh: making a Wine prefix with the game's key (about 20 s)" >&2
bash "$root/scripts/wine-setup.sh" > /dev/null
bash "$root/scripts/wine-prefix.sh" "$work/wineprefix" "$win_game" > /dev/null
# Wine may rewrite its own system.reg while savefix.exe runs: read a copy.
hand_made_prefix "$work/prefix1" "$work/wineprefix/system.reg"
# The sections of the game maker's keys go: from their key line to the empty line behind.
VENDOR="[$(savefix_reg_escape "${savefix_key_wow64%%"$savefix_vendor"*}$savefix_vendor\\")" \
  awk 'index($0, ENVIRON["VENDOR"]) == 1 { skip = 1 } skip && /^$/ { skip = 0; next } !skip' \
  "$work/wineprefix/system.reg" > "$work/keyless.reg"
! grep -qF "$savefix_vendor" "$work/keyless.reg" || savefix_die "could not take the game's key out of system.reg"
steam=$work/home/.local/share/Steam/steamapps/compatdata
for ((i = 0; i < 100; i++)); do hand_made_prefix "$steam/$((220000 + i * 10))/pfx" "$work/keyless.reg"; done

# ---- Runs -------------------------------------------------------------------

rows=$out/results.tsv  # program, series, point, median s, peak KiB; a wrong result has no median
: > "$rows"
wrong=()
fail() {  # NAME MESSAGE...: a wrong result, reported and never counted
  wrong+=("$1") && : > "$BENCH_WORK/pending-check" && rm -f "$out/$1.json" "$out/$1.csv"
  echo "run.sh: $1: WRONG RESULT, not counted: ${*:2}" >&2
  cat "$work/err" "$BENCH_WORK/wrong" 2> /dev/null | head -n 8 | sed 's/^/    /' >&2 && rm -f "$BENCH_WORK/wrong"
}
# Peak memory of COMMAND, from one more run under GNU time; its output goes to $work/output.
peak() { /usr/bin/time -f %M -o "$work/peak" "$@" < /dev/null > "$work/output" 2> "$work/err" && tail -n 1 "$work/peak"; }

# series ENV PROGRAM SERIES POINTS COMMAND; ENV is what env(1) is given before the command.
series() {
  local environment=$1 program=$2 series=$3 points=$4 command=$5 kind=first name=$2-$3 point lines=
  local times=("${runs[@]}")
  case $series in *-second) kind=second ;; esac
  case $program-$series in native-count* | plain-count* | *-memory*) times=("${more_runs[@]}") ;; esac
  echo "run.sh: $name: $points" >&2
  env $environment hyperfine -N --style none "${times[@]}" $([ $program = wine ] && echo --warmup 1) -L point "$points" --prepare "bash $here/saves.sh lay-out {point} $kind" \
    --export-json "$out/$name.json" --export-csv "$out/$name.csv" "$command" > /dev/null 2> "$work/err" &&
    bash "$here/saves.sh" check 2> "$work/err" || { fail "$name" "under hyperfine"; return 0; }
  for point in ${points//,/ }; do
    bash "$here/saves.sh" lay-out "$point" "$kind"
    # shellcheck disable=SC2086 # the command is split into words, as hyperfine -N splits it
    kib=$(peak env $environment $command) && bash "$here/saves.sh" check 2> "$work/err" || { fail "$name" "under GNU time"; return 0; }
    lines+=$(jq -r --arg p "$point" --arg kib "$kib" --arg pr "$program" --arg s "$series" \
      '.results[] | select(.parameters.point == $p) | [$pr, $s, $p, .median, $kib] | @tsv' "$out/$name.json")$'\n'
  done
  printf %s "$lines" >> "$rows"
}

# prefix ENV POINT EXPECTED_LINE FILES; ENV as above. savefix against cat of
# FILES, and against find_brackets, which only finds every '[' in them.
prefix() {
  local environment=$1 && shift
  local name=prefix-$1 program kib
  declare -A command=([native]=$native [cat]="cat $3" [brackets]="$work/find_brackets $3")
  echo "run.sh: $name: savefix against cat" >&2
  env $environment hyperfine -N --style none "${runs[@]}" --export-json "$out/$name.json" --export-csv "$out/$name.csv" \
    -n native "${command[native]}" -n cat "${command[cat]}" -n brackets "${command[brackets]}" > /dev/null 2> "$work/err" ||
    { fail "$name" "under hyperfine"; return 0; }
  for program in native cat brackets; do
    # shellcheck disable=SC2086 # as above
    kib=$(peak env $environment ${command[$program]}) || { fail "$name" "$program failed"; return 0; }
    [ $program != native ] || grep -qx "$2" "$work/output" || { cp "$work/output" "$work/err" && fail "$name" "no \"$2\""; return 0; }
    jq -r --arg pr $program --arg p "$1" --arg kib "$kib" \
      '.results[] | select(.command == $pr) | [$pr, "prefix", $p, .median, $kib] | @tsv' "$out/$name.json" >> "$rows"
  done
}

# second_floor POINT: a second run of savefix over POINT's saves, every one
# fixed already, against cat of the same saves as find lists them, both in
# the game's folder: a second run reads one byte of each save, cat reads
# each whole.
second_floor() {
  local point=$1 name=second-floor program kib
  # No shell runs these: *.HDR reaches find as it is.
  declare -A command=([native]=$native [cat]="find SaveGames -name *.HDR -exec cat {} +")
  echo "run.sh: $name: a second run of savefix against cat, $point" >&2
  (cd "$work/game" && env WINEPREFIX="$work/tiny" hyperfine -N --style none "${more_runs[@]}" \
    --prepare "bash $here/saves.sh lay-out $point second" --export-json "$out/$name.json" --export-csv "$out/$name.csv" \
    -n native "${command[native]}" -n cat "${command[cat]}") > /dev/null 2> "$work/err" &&
    bash "$here/saves.sh" check 2> "$work/err" || { fail "$name" "under hyperfine"; return 0; }
  for program in native cat; do
    bash "$here/saves.sh" lay-out "$point" second
    # shellcheck disable=SC2086 # as above, and without globbing
    kib=$(set -f && cd "$work/game" && peak env WINEPREFIX="$work/tiny" ${command[$program]}) &&
      bash "$here/saves.sh" check 2> "$work/err" || { fail "$name" "$program under GNU time"; return 0; }
    [ $program != cat ] || [ "$(stat -c %s "$work/output")" = $((${point%x*} * ${point#*x})) ] ||
      { fail "$name" "cat did not read every save"; return 0; }
    jq -r --arg pr $program --arg p "$point" --arg kib "$kib" \
      '.results[] | select(.command == $pr) | [$pr, "second-floor", $p, .median, $kib] | @tsv' "$out/$name.json" >> "$rows"
  done
}

echo "run.sh: laying out the saves" >&2
for point in ${count_points//,/ } ${size_points//,/ }; do bash "$here/saves.sh" make "$point"; done
[ -d "$work/orig/$floor_point" ] || bash "$here/saves.sh" make "$floor_point"
load=$(cut -d' ' -f1-3 /proc/loadavg)

# The game's SaveGames is empty while the prefixes are read.
prefix "WINEPREFIX=$work/prefix1" 1 "No save game found" "$work/prefix1/system.reg"
prefix "-u WINEPREFIX HOME=$work/home" 100 "Failed reading registry" "$(echo "$steam"/*/pfx/system.reg)"
second_floor "$floor_point"
# The count series in memory: the saves, their prefix and what they must become
# on tmpfs, where a sync returns at once.
if [ -n "$memory" ]; then
  export BENCH_WORK=$memory
  mkdir -p "$memory/game/SaveGames" && tiny_prefix "$memory"
  for point in ${memory_points//,/ }; do bash "$here/saves.sh" make "$point"; done
  for s in memory-first memory-second; do
    series "WINEPREFIX=$memory/tiny" native $s $memory_points "$native"
    series "" plain $s $memory_points "$work/plain_copy $memory/game/SaveGames"
  done
  export BENCH_WORK=$work
else
  echo "run.sh: /dev/shm is no tmpfs: the memory series are not run" >&2
fi
# Wine's server stays up between the Wine runs, as it does while a game runs.
WINEPREFIX=$work/wineprefix wineserver -p60 < /dev/null > /dev/null 2>&1
# The shell peer's 10,000-save runs leave the file system busy for a while
# after them: its series come last, so that they slow no other program's.
for program in savefix shell; do
  for s in count-first count-second size; do
    points=$count_points wine_points=$wine_count_points
    [ $s = size ] && points=$size_points wine_points=$wine_size_points
    if [ $program = shell ]; then
      series "" shell $s $points "bash $here/shell_peer.sh $saves"
      continue
    fi
    series "WINEPREFIX=$work/tiny" native $s $points "$native"
    series "WINEPREFIX=$work/wineprefix" wine $s $wine_points "wine $exe"
    series "" plain $s $points "$work/plain_copy $saves"
  done
done

# ---- Report -----------------------------------------------------------------

elapsed=$((SECONDS - start))
{
  echo "savefix benchmark $(date -u +%F), $(nproc) cores ($(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')),"
  echo "load average $load at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end; $(hyperfine --version), medians of $([ $quick = 1 ] && echo 2 || echo "2 to 10 (native and plain on count and memory: 5 to 10)") runs; full run $((elapsed / 60)) min $((elapsed % 60)) s"
  printf '%-7s %-13s %-18s %10s %9s %8s\n' program series point "median s" "peak MiB" "vs base"
  # The base is the plain copy on the same saves, or cat on the same files.
  awk -F'\t' 'NR == FNR { if ($1 == "plain" || $1 == "cat") base[$2, $3] = $4; next }
    function size(b) { return b >= 1048576 ? b / 1048576 " MiB" : b >= 1024 ? b / 1024 " KiB" : b " B" }
    { split($3, p, "x"); point = $2 == "prefix" ? $3 ($3 == 1 ? " prefix" : " prefixes") : p[1] " x " size(p[2])
      printf "%-7s %-13s %-18s %10.4f %9.1f %8s\n", $1, $2, point, $4, $5 / 1024, base[$2, $3] ? sprintf("%.2f", $4 / base[$2, $3]) : "-" }' "$rows" "$rows"
  for name in "${wrong[@]}"; do echo "$name: wrong result, not counted"; done
} | tee "$out/table.txt"

# One picture per series: median time against the number of 300-byte saves, and against the size of one save.
awk -F'\t' -v dir="$work/plot" '$2 != "prefix" && $2 != "second-floor" { split($3, p, "x")
  if ($2 == "size") print p[2] / 1048576, $4 > (dir "/size-" $1)
  else if (p[2] == 300) print p[1], $4 > (dir "/" $2 "-" $1) }' "$rows"
declare -A label=([native]=savefix [wine]="savefix.exe under Wine" [plain]="plain copy (baseline)" [shell]="shell peer")
declare -A colour=([native]='#1f77b4' [wine]='#9467bd' [plain]='#2ca02c' [shell]='#d62728')
picture() {  # NAME TITLE X_LABEL SERIES...
  local name=$1 title=$2 xlabel=$3 plots= s program
  for s in "${@:4}"; do
    for program in native wine plain shell; do
      [ -s "$work/plot/$s-$program" ] || continue
      plots+="${plots:+, }'$work/plot/$s-$program' using 1:2 with linespoints lw 2 pt 7 lc rgb '${colour[$program]}'"
      plots+=" dt $([ "${s%-second}" != "$s" ] && echo "3 title '${label[$program]}, second run'" || echo "1 title '${label[$program]}'")"
    done
  done
  [ -n "$plots" ] || return 0
  gnuplot <<EOF
set terminal svg size 760,460 dynamic font 'sans,12' background rgb 'white'
set output '$out/$name.svg'
set title "$title: median wall time per run, $(nproc) cores"
set logscale xy
set xlabel '$xlabel'
set ylabel 'seconds'
set key bottom right
set grid
plot $plots
EOF
}
picture count "Saves of 300 bytes" "number of saves (second run: over saves fixed already)" count-first count-second
picture size "One save" "size of the save (MiB)" size
picture memory "Saves of 300 bytes in memory (tmpfs)" "number of saves (second run: over saves fixed already)" memory-first memory-second
echo "Pictures, table and hyperfine's exports in $out"
[ "${#wrong[@]}" -eq 0 ] || savefix_die "wrong results: ${wrong[*]}"
