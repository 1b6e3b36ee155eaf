#!/usr/bin/env bash
# Runs savefix.exe under Wine and the native savefix on the same Wine prefix,
# made by Wine itself, case by case, each on a fresh copy of the same saves:
#
#   wine_differential.sh WORKDIR SAVEFIX_EXE NATIVE_SAVEFIX [PART/PARTS]
#   wine_differential.sh --prefix WORKDIR
#   wine_differential.sh --done WORKDIR
#
# The outputs must match once savefix.exe's is decoded from code page 1252
# with CR LF as LF and the native lines naming the prefix and the
# "Folder on this machine:" line are set aside, and
# the files left behind must match byte for byte. Some cases edit system.reg by hand (lines Wine passes over, other
# spellings); both programs then read the edited file. WORKDIR is an
# absolute path.
#
# Without PART/PARTS every case runs, in a prefix made for the run in
# WORKDIR, which is replaced, and removed again when every case matches.
# With it, every PARTS-th case from the PART-th on runs (2/4: the 2nd, 6th,
# 10th...), in the prefix "--prefix WORKDIR" made there for the parts, with
# the part's own files in WORKDIR/partPART, removed again when its cases
# match. The parts share that prefix, so they must run one at a time.
# "--done WORKDIR" stops the prefix's wineserver and removes WORKDIR,
# unless a part kept its files there.
set -uo pipefail -f  # no globbing: save names such as [x].HDR stay as written
. "$(dirname "$0")/../scripts/lib.sh"
savefix_help "$@"
mode=run
case ${1-} in
  --prefix | --done) mode=${1#--} && shift && [ $# -eq 1 ] || savefix_usage ;;
  *) [ $# -eq 3 ] || [ $# -eq 4 ] || savefix_usage ;;
esac
work=$1
case $work in /?*) ;; *) savefix_usage ;; esac
prefix=$work/prefix
savefix_wine_env "$prefix"
stop_server() { wineserver -k 2> /dev/null; wineserver -w 2> /dev/null; }

# A fresh prefix in WORKDIR, made by Wine, and beside it its system.reg as
# Wine left it, which every case starts from.
make_prefix() {
  [ ! -d "$prefix" ] || stop_server
  rm -rf "$work"
  mkdir -p "$work"
  bash "$(dirname "$0")/../scripts/wine-prefix.sh" "$prefix" > /dev/null &&
    cp "$prefix/system.reg" "$work/fresh.reg"
}

case $mode in
  prefix) make_prefix; exit ;;
  done)
    [ ! -d "$prefix" ] || stop_server
    if [ -n "$(find "$work" -mindepth 1 -maxdepth 1 -name 'part*' 2> /dev/null)" ]; then
      echo "a part's files are kept in $work, and the prefix with them"
    else
      rm -rf "$work"
    fi
    exit 0 ;;
esac

exe=$2 native=$3
[ -f "$exe" ] || { echo "no savefix.exe at '$exe': build the win32 preset first" >&2; exit 1; }
[ -x "$native" ] || echo "no native savefix at '$native': build the native preset first" >&2
if [ $# -eq 4 ]; then
  [[ $4 =~ ^([1-9][0-9]*)/([1-9][0-9]*)$ ]] && [ "${BASH_REMATCH[1]}" -le "${BASH_REMATCH[2]}" ] || savefix_usage
  part=${BASH_REMATCH[1]} parts=${BASH_REMATCH[2]} run=$work/part${BASH_REMATCH[1]}
  [ -f "$work/fresh.reg" ] ||
    { echo "no prefix in $work: make it first with wine_differential.sh --prefix $work" >&2; exit 1; }
  # A part stopped halfway may have left the server up and z: elsewhere.
  stop_server
  ln -sfn / "$prefix/dosdevices/z:"
  rm -rf "$run"
else
  part=1 parts=1 run=$work
  make_prefix || exit 1
fi
games=$run/games
mkdir -p "$games"
trap stop_server EXIT

# Windows spelling of a Unix path, through the Z: drive.
z=$(savefix_z_path "$games")
zu=$(printf %s "$z" | tr a-z A-Z)

# Lays out the entries under DIR: "path=size" is a file of that many bytes
# (its own path repeated, so no byte is 4), "path/" a directory.
lay_out() {
  local dir=$1 entry
  rm -rf "$dir"
  mkdir -p "$dir"
  for entry in $2; do
    mkdir -p "$dir/$(dirname "${entry%=*}")"
    case $entry in
      */) mkdir "$dir/$entry" ;;
      *) yes "${entry%=*}" | head -c "${entry##*=}" > "$dir/${entry%=*}" ;;
    esac
  done
}

# Every directory and file under DIR, with each file's size and hash.
snapshot() {
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while IFS= read -r f; do
    if [ -d "$f" ]; then echo "dir $f"; else echo "$(stat -c %s "$f") $(sha256sum < "$f" | cut -c1-16) $f"; fi
  done)
}

# Writes the key for one case: in the 32-bit view, the one savefix.exe
# reads, or only in the 64-bit view. The 64-bit reg tool reaches both views;
# Debian's "wine" would start the 32-bit one, which some machines run only
# emulated, seconds a start. This way savefix.exe is a case's only 32-bit
# process.
write_key() {
  local type=$1 view=$2 value=$3 reg=(/usr/lib/wine/wine64 reg)
  if [ "$view" = 64 ]; then
    "${reg[@]}" delete "HKLM\\SOFTWARE\\$savefix_vendor" /reg:32 /f < /dev/null > /dev/null 2>&1
  fi
  "${reg[@]}" add "HKLM\\$savefix_key" /v "$savefix_value" /t "$type" /d "$value" /reg:"$view" /f < /dev/null > /dev/null 2>&1
}

# ---- Hand edits of system.reg (wineserver stopped) --------------------------

game_key="[$(savefix_reg_escape "$savefix_key_wow64")]"
value_start="\"$savefix_value\"="
wrong_path="$value_start\"$(savefix_reg_escape 'C:\Wrong\')\""

# The game's value line in FILE, as wineserver wrote it.
app_path_line() {
  KEY=$game_key START=$value_start LC_ALL=C awk 'index($0, ENVIRON["KEY"]) == 1 { on = 1; next }
    /^\[/ { on = 0 } on && index($0, ENVIRON["START"]) == 1 { print; exit }' "$1"
}

# Replaces the game's value line in FILE by LINE.
replace_app_path() {
  KEY=$game_key START=$value_start LINE=$2 LC_ALL=C awk 'index($0, ENVIRON["KEY"]) == 1 { on = 1 }
    /^\[/ && index($0, ENVIRON["KEY"]) != 1 { on = 0 }
    on && index($0, ENVIRON["START"]) == 1 { print ENVIRON["LINE"]; next } { print }' "$1" > "$1.new" && mv "$1.new" "$1"
}

# Puts LINE behind the first key line of FILE.
after_first_key() {
  LINE=$2 LC_ALL=C awk '{ print } /^\[/ && !done { print ENVIRON["LINE"]; done = 1 }' "$1" > "$1.new" &&
    mv "$1.new" "$1"
}

# The size wineserver's line buffer has grown to behind the last line of
# FILE: 4 bytes at first, half as much again while a line and its end do
# not fit.
line_buffer_size() {
  LC_ALL=C awk 'BEGIN { size = 4 } { while (size - 1 < length($0) + 2) size += int(size / 2) }
    END { print size }' "$1"
}

# VALUE and a zero as UTF-16LE hex bytes "hex(TAG):", each written as
# PREFIX xx and followed by SEPARATOR, 16 bytes to a line.
hex_value() {
  printf '%s\0' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
    START=$value_start TAG=$2 PREFIX=$3 SEPARATOR=$4 LC_ALL=C awk '{ for (i = 1; i <= NF; i++) b[n++] = $i }
      END { printf "%shex(%s):", ENVIRON["START"], ENVIRON["TAG"]
            for (i = 0; i < n; i++) {
              if (i > 0) printf "%s", (i % 16 ? ENVIRON["SEPARATOR"] : ",\\\n  ")
              printf "%s%s", ENVIRON["PREFIX"], b[i] } }'
}

# Edits the prefix's system.reg as case EDIT needs; the game's key holds VALUE.
edit_registry() {
  local edit=$1 value=$2 reg=$prefix/system.reg line
  line=$(app_path_line "$reg")
  [ -n "$line" ] || return 1
  case $edit in
    stray) after_first_key "$reg" 'this line is no registry line' ;;
    garbage) after_first_key "$reg" '"x"=garbage' ;;
    separator)  # the game's key once more, spelled with a leading separator
      replace_app_path "$reg" "$wrong_path"
      printf '\n[\\\\%s 0\n%s\n' "${game_key#[}" "$line" >> "$reg" ;;
    zero)  # the text behind the line buffer's worth of a line holding a zero is read as a line
      replace_app_path "$reg" "$wrong_path"
      printf '\n[Software\\\\Other] 0\n' >> "$reg"
      { printf '"y"="\0'; head -c $(($(line_buffer_size "$reg") - 7)) /dev/zero | tr '\0' .
        printf '%s 0\n%s\n' "$game_key" "$line"; } >> "$reg" ;;
    tail)  # a crash: a line cut off, and zeros up to the end
      { printf '\n[Software\\\\Other] 0\n"Cut"="C:\\\\Ga'; head -c 4096 /dev/zero; } >> "$reg" ;;
    crlf) sed -i 's/$/\r/' "$reg" ;;
    spaced) replace_app_path "$reg" "$(hex_value "$value" 1 '' ', ')" ;;
    hex0x) replace_app_path "$reg" "$(hex_value "$value" 0x1 0x ,)" ;;
    swallow)  # continued hex data takes the next line, a key line here
      printf '\n[Software\\\\Other] 0\n"y"=hex:41,\\\n%s 0\n%s\n' "$game_key" "$wrong_path" >> "$reg" ;;
    dword)  # dword data ending in a backslash takes no next line: the game's value line behind it is read
      replace_app_path "$reg" "${value_start}dword:1,\\"$'\n'"$line" ;;
    *) return 1 ;;
  esac
}

# ---- Cases started in a chosen working directory -------------------------
# Wine maps the Unix working directory ($PWD where it names the same
# directory) through the drives and resolves rooted and relative paths
# against it. The programs start elsewhere, so their paths are made absolute.
exe=$(realpath "$exe") native=$(realpath -m "$native")
# A link whose $PWD lies on Z: where getcwd() lies on C:; a place for z: that
# leaves the working directory under no drive; the games folder as rooted at
# the working directory's first component ("\dir" for "/first/dir").
ln -s "$prefix/drive_c/users" "$run/cusers"
mkdir -p "$run/zroot"
below_first=$(printf %s "${games#/*/}" | tr / '\\')
games_bs=$(printf %s "$games" | tr / '\\')
# The games folder relative to the Unix root.
games_rel=${games_bs#\\}
# Runs COMMAND... in DIR (empty: here), entered as cd enters it, with z:
# pointing to TARGET if given:  in_directory DIR TARGET COMMAND...
# DIR "removed:PATH" is made, entered and removed before the command starts,
# which then starts through sh: `wine` is a sh script, and sh empties $PWD in
# a folder that is gone, so both programs get the environment savefix.exe gets.
in_directory() {
  local dir=$1 target=$2 z_link=$prefix/dosdevices/z: saved status=0
  shift 2
  saved=$(readlink "$z_link")
  [ -z "$target" ] || ln -sfn "$target" "$z_link"
  case $dir in
    removed:*) dir=${dir#removed:}
      mkdir -p "$dir" && (cd "$dir" && rmdir "$dir" && sh -c 'exec "$@"' sh "$@") || status=$? ;;
    *) (cd "${dir:-.}" && export PWD && "$@") || status=$? ;;
  esac
  ln -sfn "$saved" "$z_link"
  return "$status"
}
# ---- end of the working-directory block -----------------------------------

failed=0 ran=0 number=0
# One case, the NUMBERth of the table: NAME TYPE VIEW APPPATH INSTALL_DIR ENTRIES [EDIT [WORKING_DIR [Z_TARGET]]].
run_case() {
  local name=$1 type=$2 view=$3 value=$4 dir=$5 entries=$6 edit=${7-} cwd=${8-} z_target=${9-}
  local out=$run/case$number problem=
  mkdir -p "$out"
  cp "$work/fresh.reg" "$prefix/system.reg"
  lay_out "$dir" "$entries"
  write_key "$type" "$view" "$value" || problem="writing the key failed"
  if [ -n "$edit" ]; then
    stop_server
    edit_registry "$edit" "$value" || problem=${problem:-"editing system.reg failed"}
    cp "$prefix/system.reg" "$out/system.reg"
  fi
  in_directory "$cwd" "$z_target" wine "$exe" < /dev/null > "$out/wine.raw" 2> "$out/wine.err"
  printf '\r\n[exit status %d]\r\n' $? >> "$out/wine.raw"
  stop_server
  iconv -f CP1252 -t UTF-8 "$out/wine.raw" | sed 's/\r$//' > "$out/wine.out"
  snapshot "$dir" > "$out/wine.files"

  # wineserver may have saved its own, clean, copy over the edited file.
  [ -z "$edit" ] || cp "$out/system.reg" "$prefix/system.reg"
  lay_out "$dir" "$entries"
  in_directory "$cwd" "$z_target" "$native" < /dev/null > "$out/native.raw" 2> "$out/native.err"
  printf '\n[exit status %d]\n' $? >> "$out/native.raw"
  sed -e '1{/^\(Wine prefix\|Game not found in\|No game install path in\): /d;s/^/[no prefix line] /}' \
    -e '/^Folder on this machine: /d' "$out/native.raw" > "$out/native.out"
  snapshot "$dir" > "$out/native.files"

  # Guards against two runs that agree only because the key never arrived.
  local first
  first=$(head -n 1 "$out/wine.out")
  if [ "$view" = 64 ]; then
    [ "$first" = "Failed reading registry" ] || problem=${problem:-"savefix.exe read a key only in the 64-bit view"}
  elif [ "$first" != "Save game directory: ${value}SaveGames\\" ] || ! grep -q '^Backup made' "$out/wine.out"; then
    problem=${problem:-"savefix.exe did not find the saves"}
  fi
  if [ -z "$problem" ] && cmp -s "$out/wine.out" "$out/native.out" && cmp -s "$out/wine.files" "$out/native.files"; then
    echo "same: $name"
    return
  fi
  failed=$((failed + 1))
  echo "DIFFERENT: $name${problem:+ ($problem)}, in $out"
  echo "--- savefix.exe under Wine (decoded):"; cat "$out/wine.out" "$out/wine.err"
  echo "--- native savefix:"; cat "$out/native.raw" "$out/native.err"
  echo "--- output (savefix.exe, then native):"; diff "$out/wine.out" "$out/native.out"
  echo "--- files left (savefix.exe, then native):"; diff "$out/wine.files" "$out/native.files"
  echo
}

# One case of the table, its fields by name: name (what it tests), value
# ("AppPath"), dir (the install folder on disk), entries (laid out there, see
# lay_out) and, where they are not REG_SZ, the 32-bit view or none: type,
# view, edit (of system.reg, see edit_registry), cwd (see in_directory) and z
# (the target of drive z:). A part runs every PARTSth case.
case_row() {
  local name= type=REG_SZ view=32 value= dir= entries= edit= cwd= z= field
  for field; do local "$field"; done
  [ $((number++ % parts + 1)) -eq "$part" ] || return 0
  ran=$((ran + 1))
  run_case "$name" "$type" "$view" "$value" "$dir" "$entries" "$edit" "$cwd" "$z"
}

case_row name="plain on C:" value="C:\Games\Vellmoor\\" dir="$prefix/drive_c/Games/Vellmoor" entries="SaveGames/Save1.HDR=400 SaveGames/Save2.HDR=300"
case_row name="install path in another case" value="$zu\CASEFOLD\GAME\\" dir="$games/CaseFold/Game" entries="SaveGames/A.HDR=300"
case_row name="accented install path" value="$z\Mes jeux\Café\\" dir="$games/Mes jeux/Café" entries="SaveGames/Crème.HDR=300"
case_row name="save directory in another case" value="$z\lower\\" dir="$games/lower" entries="savegames/A.HDR=300 savegames/B.HDR=400"
case_row name="backup in another case" value="$z\bakcase\\" dir="$games/bakcase" entries="SaveGames/A.HDR=400 SaveGames/a.bak=50"
case_row name="lower-case extension" value="$z\lowerhdr\\" dir="$games/lowerhdr" entries="SaveGames/b.hdr=300 SaveGames/C.HDR=400"
case_row name="directory named like a save" value="$z\dirhdr\\" dir="$games/dirhdr" entries="SaveGames/D.HDR/ SaveGames/E.HDR=300"
case_row name="Wine's directory order" value="$z\order\\" dir="$games/order" entries="SaveGames/Save_1.HDR=300 SaveGames/SaveA.HDR=301 SaveGames/savea2.HDR=302 SaveGames/[x].HDR=303 SaveGames/x~y.HDR=304 SaveGames/Zeta.HDR=305 SaveGames/zeta.HDR=306 SaveGames/éclair.HDR=307"
case_row name="REG_EXPAND_SZ used as read" type=REG_EXPAND_SZ value="$z\%TEMP%\\" dir="$games/%TEMP%" entries="SaveGames/A.HDR=300"
case_row name="key only in the 64-bit view" view=64 value="$z\only64\\" dir="$games/only64" entries="SaveGames/A.HDR=300"
case_row name="second .HDR in a name" value="$z\hdrhdr\\" dir="$games/hdrhdr" entries="SaveGames/X.HDR=400 SaveGames/X.HDR.HDR=300"
case_row name="stray text line in another key" value="$z\stray\\" dir="$games/stray" entries="SaveGames/A.HDR=300" edit=stray
case_row name="value of no known form in another key" value="$z\garbage\\" dir="$games/garbage" entries="SaveGames/A.HDR=300" edit=garbage
case_row name="key line starting with a separator" value="$z\separator\\" dir="$games/separator" entries="SaveGames/A.HDR=300" edit=separator
case_row name="zero byte in another value" value="$z\zero\\" dir="$games/zero" entries="SaveGames/A.HDR=300" edit=zero
case_row name="zero-filled tail" value="$z\tail\\" dir="$games/tail" entries="SaveGames/A.HDR=300" edit=tail
case_row name="CR LF line ends" value="$z\crlf\\" dir="$games/crlf" entries="SaveGames/A.HDR=300" edit=crlf
case_row name="hex(1) with spaces behind the commas" value="$z\Mes jeux\spaced\\" dir="$games/Mes jeux/spaced" entries="SaveGames/A.HDR=300" edit=spaced
case_row name="hex(0x1) and 0x bytes" value="$z\hex0x\\" dir="$games/hex0x" entries="SaveGames/A.HDR=300" edit=hex0x
case_row name="continued hex data taking a key line" value="$z\swallow\\" dir="$games/swallow" entries="SaveGames/A.HDR=300" edit=swallow
case_row name="dword data ending in a backslash" value="$z\dword\\" dir="$games/dword" entries="SaveGames/A.HDR=300" edit=dword
case_row name="\\\\?\ path as written, in another case, to a name with a final dot" value="\\\\?\\$zu\TRAIL.\\" dir="$games/trail." entries="SaveGames/A.HDR=300 SaveGames/b.hdr=400"
case_row name="\\\\?\unix\ path" value="\\\\?\unix$games_bs\unixns\\" dir="$games/unixns" entries="SaveGames/A.HDR=300"
case_row name="\\\\.\ path cleaned up" value="\\\\.\\$z\devform\x\..\\" dir="$games/devform" entries="SaveGames/A.HDR=300"
case_row name="\??\ path as written" value="\??\\$z\ntform\\" dir="$games/ntform" entries="SaveGames/A.HDR=300"
case_row name="rooted path on the working directory's drive C:" value="\Games\Rooted\\" dir="$prefix/drive_c/Games/Rooted" entries="SaveGames/A.HDR=300" cwd="$prefix/drive_c/users"
case_row name="drive-relative path on the working directory's drive" value="Z:here\\" dir="$games/here" entries="SaveGames/A.HDR=300" cwd="$games"
case_row name="drive-relative path on another drive" value="C:Games\Elsewhere\\" dir="$prefix/drive_c/Games/Elsewhere" entries="SaveGames/A.HDR=300" cwd="$games"
case_row name="working directory entered through a link" value="Z:linked\\" dir="$prefix/drive_c/users/linked" entries="SaveGames/A.HDR=300" cwd="$run/cusers"
case_row name="working directory under no drive, rooted path" value="\\$below_first\nodrive\\" dir="$games/nodrive" entries="SaveGames/A.HDR=300" cwd="$games/nodrive" z="$run/zroot"
case_row name="Unix path" value="$games/slash/" dir="$games/slash" entries="SaveGames/A.HDR=300" cwd="$games"
case_row name="Unix path from a working directory on C:" value="$games/slashc/" dir="$games/slashc" entries="SaveGames/A.HDR=300" cwd="$prefix/drive_c/users"
case_row name="Unix path of no folder, rooted on C:" value="$run/rooted/" dir="$prefix/drive_c$run/rooted" entries="SaveGames/A.HDR=300" cwd="$prefix/drive_c/users"
case_row name="8.3 alias of the install folder" value="C:\Games\VELL~G3P\\" dir="$prefix/drive_c/Games/Vellmoor Game" entries="SaveGames/A.HDR=300"
case_row name="8.3 alias and a name spelt as it in another case" value="C:\Aliased\VELL~KI4\\" dir="$prefix/drive_c/Aliased" entries="VellmoorGame/SaveGames/A.HDR=300 vell~ki4/SaveGames/A.HDR=301"
case_row name="saves matching *.HDR only by their 8.3 aliases" value="$z\aliasmatch\\" dir="$games/aliasmatch" entries="SaveGames/A.HDR=300 SaveGames/longname.hdrx=301 SaveGames/Save1.HDR1=302"
case_row name="relative path from a removed working directory, names matched with case" value="$games_rel\gonecwd\\" dir="$games/gonecwd" entries="SaveGames/A.HDR=300 SaveGames/a.bak=50" cwd="removed:$run/gone"

[ "$ran" -gt 0 ] || { rm -rf "$run"; echo "no case is part $part of $parts"; exit 1; }
if [ "$failed" -ne 0 ]; then
  echo "$failed case(s) differ; everything is kept in $run, the prefix in $prefix"
  exit 1
fi
trap - EXIT
rm -rf "$run"
echo "every case the same ($ran)"
