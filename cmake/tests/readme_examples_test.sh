#!/usr/bin/env bash
# The README's examples run as written. Every fenced sh block that README.md marks with
# "<!-- example: NAME -->" on the line before it runs with bash -e -o pipefail in a fresh scratch
# directory, after the README's setup block ("<!-- example: setup -->"), from a checkout whose
# build/ is the build under test and whose other folders are the source tree's. The checks below
# say what each example must show: its status, the lines it prints, the files it makes. A block
# marked "<!-- output: NAME (whole) -->" is the whole of what the example NAME prints on standard
# output, one marked "<!-- output: NAME (among) -->" lines that it prints on either stream, each
# one whole (as a terminal shows it: a carriage return at the end of a line does not count); the
# text before the block says which of the two it is, in words ("whole", "among"). Last come the
# README's statements that no example shows: the usage of run-in-netns, what build/lib holds,
# skycast's help in Octave.
# An example without checks, checks without an example, an example that writes into the checkout,
# leaves a process running or runs a network program without platform/netns/run-in-netns fail the
# test. Examples that run GNU Octave are skipped, with a message, where octave-cli or the Octave
# build of skycast is missing.
#
# The test itself runs inside a private network namespace; each run-in-netns of an example makes
# a namespace of its own inside it, as it does for a user, so two calls are two networks here too.
# Each example's shared-memory channels get a namespace of named objects of their own.
#   readme_examples_test.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR [NAME...]   (NAME "statements": the
#                                                                     statements no example shows)
set -euo pipefail
src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
scratch=$3
shift 3
only=("$@")
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)

failures=0
fail() {
  echo "FAIL ${name:-README}: $*"
  failures=$((failures + 1))
}

# --- the checks of each example -----------------------------------------------------------------
# Each runs in the example's scratch directory with $out and $err (what it printed) and $status,
# without -e and pipefail: every check reports its own failure and the checks go on.

expect_status() { [ "$status" = "$1" ] || fail "status $status, expected $1"; }
# Each text appears in what the example printed (standard output or standard error).
expect_output() {
  local text
  for text in "$@"; do
    grep -Fq -- "$text" "$out" "$err" || fail "printed nothing containing \"$text\""
  done
}
# At least COUNT lines of standard output match the extended regular expression.
expect_lines() {
  local n
  n=$(grep -Ec -- "$2" "$out" || true)
  [ "$n" -ge "$1" ] || fail "$n lines of output match /$2/, expected at least $1"
}
expect_files() {
  local f
  for f in "$@"; do [ -s "$f" ] || fail "no file $f (or it is empty)"; done
}
expect_no_files() {
  local f
  for f in "$@"; do [ ! -e "$f" ] || fail "file $f should not be there"; done
}
# FILE holds a line that matches the extended regular expression.
expect_in_file() { grep -Eq -- "$2" "$1" 2>/dev/null || fail "$1 holds no line matching /$2/"; }
expect_line_count() {
  local n
  n=$(wc -l <"$1")
  [ "$n" = "$2" ] || fail "$1 holds $n lines, expected $2"
}
# The mean of a picture's channel over a strip of rows (ImageMagick's crop geometry).
channel_mean() {
  convert "$1" -crop "$3" -channel "$2" -separate -format '%[fx:mean]' info: 2>/dev/null
}
# North lies at the bottom of a picture of 48-49 N, 124-123 W: its top edge (48 N) is the Olympic
# Peninsula's shore, land, and its bottom edge (49 N) is mostly the water east of Vancouver
# Island, so the top strip holds less blue than the bottom one (0.32 and 0.41 in gridforge's
# picture, 0.51 and 0.68 in tintshade's).
expect_north_at_the_bottom() {
  local top bottom
  top=$(channel_mean "$1" B 1201x120+0+0)
  bottom=$(channel_mean "$1" B 1201x120+0+1081)
  awk -v t="$top" -v b="$bottom" 'BEGIN { exit !(t + 0.05 < b) }' ||
    fail "$1: blue of the top strip $top, of the bottom strip $bottom: north is not at the bottom"
}

grid=pnw_48n49n_124w123w_46x30.i16
levels() { local t; for t in 065_161 065_162 066_161 066_162; do echo "$t"_{0..5}; done; }

# The share of a picture's pixels in the water colour that gridforge's palette gives posts at 0 m.
water_share() {
  convert "$1" -fill white -opaque 'rgb(27,54,108)' -fill black +opaque white \
    -format '%[fx:round(100*mean)]' info: 2>/dev/null
}

check_terrain_gridforge() {
  expect_status 0
  # The bundled grid's sea is at 0 m: drawn in the water colour, half of the picture.
  [ "$(water_share "$grid.bmp")" = 50 ] ||
    fail "$(water_share "$grid.bmp")% of $grid.bmp is water-coloured, expected 50%"
  expect_files "$grid.bmp" 065_161 065_162 066_161 066_162 065_161.c32 066_162.c32 $(levels)
  expect_no_files TempData.tmp TempDataColors.tmp
  expect_in_file gridforge.err '^Phase 7: \*\*\* Processing Bitmap \*\*\*$'
  expect_north_at_the_bottom "$grid.bmp"
}
check_terrain_picture() {
  expect_status 0
  expect_files "$grid.bmp" region.bmp region.png
  cmp -s "$grid.bmp" region.bmp || fail "tileprint's picture differs from gridforge's"
  expect_north_at_the_bottom region.png
}
check_terrain_again() {
  expect_status 0
}
check_terrain_hour() {
  expect_status 0
  expect_files "$grid.bmp"
}
check_terrain_dem_landuse() {
  expect_status 0
  expect_files olympic_48n124w.dem 066_162.1201x1201 land.ctg land.ctg.0046x0030 olympic.bmp \
    066_162.c32 $(levels)
  expect_in_file landimport.err '^ Count = 1380 $'
  # An independent reader of land-use files sees the same grid.
  gdalinfo land.ctg 2>/dev/null | grep -q '^Size is 30, 46$' ||
    fail "GDAL does not read land.ctg as 46 rows of 30 cells"
  [ "$(grep -c '^error processing: land.ctg $' landimport.err)" = 80 ] ||
    fail "landimport.err does not hold its end-of-file line 80 times"
  expect_north_at_the_bottom olympic.bmp
}
check_terrain_refusal() {
  expect_status 0
  expect_output "tintshade: region latitude 91 is off the globe (-90..90)" \
    "error: Could not open 'missing.i16'" "gridforge: No such file or directory" \
    "tileprint: long_max is not a number: '-l23'" \
    "status: error: flightlog:: Could not create data file 'nodir/run03.dat': No such file or directory."
  expect_lines 3 '^status 255$'
  expect_lines 1 '^status 1$'
  [ -z "$(ls -A)" ] || fail "the directory is not empty: $(ls -A)"
}
check_skycast_octave() {
  expect_status 0
}
check_skycast_burst() {
  expect_status 0
}
check_skycast_drone() {
  expect_status 0
  expect_lines 1 \
    '^[0-9]+ records; the last -?[0-9]+ ft east, -?[0-9]+ ft north, at 15000 ft, roll 8\.0'
}
check_skypush() {
  expect_status 0
  expect_files watch.txt skypush.txt
  expect_in_file skypush.txt '^499 major t=4\.99: '
  expect_in_file skypush.txt '^status: ok$'
  # How many packets a busy machine lets through varies; what it cannot change: every line is
  # whole and the jet's, the last one too although netwatch was stopped (output still buffered
  # at the stop would be cut off at a buffer's end, mid-line), and at most one packet leaves each
  # 0.05 s of netwatch's 7 seconds.
  local n all
  n=$(grep -Ec '^[0-9]+ [0-9]+ 2e\+03 1e\+03 3500\.0  5\.0 10\.0 -90\.0 jet[0-9]+ none$' \
      watch.txt || true)
  all=$(wc -l <watch.txt)
  [ "$n" = "$all" ] || fail "$((all - n)) of the $all lines of watch.txt are not the jet's"
  [ -z "$(tail -c 1 watch.txt)" ] || fail "watch.txt ends in the middle of a line"
  [ "$n" -ge 1 ] && [ "$n" -le 141 ] ||
    fail "netwatch's file holds $n lines of the jet, expected 1 to 141"
}
check_cobridge_airhost() {
  expect_status 0
  expect_files airhost.txt cobridge.txt SharedFile3 SharedFile4
  expect_in_file airhost.txt '^block airhost type 1 inputs 15 outputs 25 aux "" 60$'
  expect_in_file airhost.txt '^frame [0-9]+: 1000 2000 -5000 0 0 90 0 0 1 250 '
  expect_in_file airhost.txt '^frame 180: 0 0 -0 0'
  expect_in_file airhost.txt '^exit$'
  expect_in_file cobridge.txt \
    '^[0-9]+ major t=[0-9.]+: 1 0\.1 0\.2 0\.3 0\.5 0 0 0 0 0 0 0 0 0 0 0$'
  expect_in_file cobridge.txt '^status: ok$'
}
check_cobridge_lawhost() {
  expect_status 0
  expect_files lawhost.txt cobridge.txt SharedFile1 SharedFile2
  expect_in_file lawhost.txt '^block lawhost type 0 inputs 18 outputs 14 aux "" 60$'
  expect_in_file lawhost.txt '^frame [0-9]+: 1 2 3 125 0 0 0 0 0 0 0 0 0 9$'
  expect_in_file lawhost.txt '^exit$'
  expect_in_file cobridge.txt \
    '^[0-9]+ major t=[0-9.]+: 1 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18$'
  expect_in_file cobridge.txt '^status: ok$'
}
check_playback() {
  expect_status 0
  expect_line_count "$out" 9
  expect_files rows.txt flight.ply.ini run01.dat
  expect_line_count flight.ply.ini 60
  expect_line_count run01.dat 5
  sed -n 3p run01.dat | grep -q $'^0.02\t10\t0\t-1000\t0\t' ||
    fail "run01.dat's third row does not begin 0.02, 10, 0, -1000, 0 (tab after each)"
  grep -q $'\r$' run01.dat || fail "run01.dat's lines do not end in CR LF"
  expect_line_count run03.dat 5
  [ "$(grep -c $'^\(1\t\)\{33\}\r$' run03.dat)" = 5 ] ||
    fail "run03.dat is not five rows of 33 ones"
}
check_drones_netwatch() {
  expect_status 0
  local drone
  for drone in 707_Drone F18_Drone F16_Drone F15_Drone F22_Drone F23_Drone F117_Drone; do
    expect_lines 5 \
      "^[0-9]+ [0-9]+ +[-0-9.e+]+ +[-0-9.e+]+ +1[45][0-9]{3}\.[0-9] +0\.0 +8\.0 +-?[0-9.]+ $drone $"
  done
  expect_lines 5 '^1234 1234 .* 707_Drone $'
  expect_in_file fleet.log '^Total Time = [0-9.]+ $'
}

# --- the examples -------------------------------------------------------------------------------

blocks=$scratch/blocks
mkdir -p "$blocks"
# Splits the README into blocks/NAME.sh (examples), blocks/NAME.out (what they print) and
# blocks/NAME.form ("whole" or "among"); a marker must be followed at once by its fenced block,
# and the last paragraph of text before an output block must say what it shows.
awk -v dir="$blocks" '
  function bad(what) { printf "README.md line %d: %s\n", NR, what; status = 1 }
  file != "" && /^```$/ { close(file); file = ""; next }
  file != "" { print > file; next }
  want != "" {
    if ((kind == "sh" && $0 != "```sh") || (kind == "out" && $0 !~ /^```(text)?$/))
      bad("the " kind " block of \"" want "\" must follow its marker at once")
    else
      file = dir "/" want "." kind
    want = ""
    next
  }
  /^```/ { fence = !fence; next }
  fence { next }
  /^<!-- example: [a-z0-9-]+ -->$/ || /^<!-- output: [a-z0-9-]+ \((whole|among)\) -->$/ {
    want = $3
    kind = ($2 == "example:") ? "sh" : "out"
    if ((dir "/" want "." kind) in seen) bad("\"" want "\" is marked twice")
    seen[dir "/" want "." kind] = 1
    if (kind == "out") {
      form = substr($4, 2, length($4) - 2)
      if (para != "") prose = para
      if (tolower(prose) !~ form)
        bad("the text before the output of \"" want "\" does not say it is " \
            (form == "whole" ? "the whole output" : "lines among it") ": " prose)
      print form > (dir "/" want ".form")
      close(dir "/" want ".form")
    }
    next
  }
  /<!-- *(example|output)/ {
    bad("a marker not of the form <!-- example: name --> or <!-- output: name (whole|among) -->")
  }
  /^ *$/ { if (para != "") prose = para; para = ""; next }
  { para = para " " $0 }
  END { if (file != "" || fence) bad("a block that does not end"); exit status }
' "$src/README.md" || fail "the README's example markers"

[ -s "$blocks/setup.sh" ] || fail "the README has no setup block"
for f in "$blocks"/*.out; do
  [ -e "$f" ] || continue
  [ -e "${f%.out}.sh" ] || fail "output block of \"$(basename "${f%.out}")\" without its example"
done
examples=()
for f in "$blocks"/*.sh; do
  n=$(basename "$f" .sh)
  [ "$n" = setup ] || examples+=("$n")
done
for n in "${examples[@]}"; do
  declare -F "check_${n//-/_}" >/dev/null || fail "example \"$n\" has no checks in $0"
done
for fn in $(declare -F | awk '$3 ~ /^check_/ { print substr($3, 7) }'); do
  [ -e "$blocks/${fn//_/-}.sh" ] ||
    fail "checks for \"${fn//_/-}\" but the README has no such example"
done

# The checkout as the README's reader has it: the source tree with the build under test.
tree=$scratch/checkout
mkdir -p "$tree"
for entry in "$src"/* "$src"/.ci; do
  base=$(basename "$entry")
  [ -e "$entry/CMakeCache.txt" ] || [ "$base" = out ] && continue
  ln -s "$entry" "$tree/$base"
done
ln -s "$build" "$tree/build"
# What an example may not write into: the checkout without its repository and build folders.
untouched=(-path "$src/.git" -prune -o -path "$src/out" -prune)
for dir in "$src"/*/; do
  [ -e "$dir/CMakeCache.txt" ] && untouched+=(-o -path "${dir%/}" -prune)
done
untouched+=(-o)

octave=yes
if ! command -v octave-cli >/dev/null || [ ! -e "$build/octave/skycast.mex" ]; then
  octave=""
fi
network_programs='dronefleet|dronesolo|netwatch|skypush|octave-cli'

for name in "${examples[@]}"; do
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then continue; fi
  before=$failures
  block=$blocks/$name.sh
  if grep -Eq "$network_programs" "$block" && ! grep -q 'platform/netns/run-in-netns' "$block"; then
    fail "runs a network program outside platform/netns/run-in-netns"
    continue
  fi
  if grep -q 'octave-cli' "$block" && [ -z "$octave" ]; then
    echo "skip $name: needs GNU Octave (octave-cli and build/octave/skycast.mex)"
    continue
  fi
  run=$scratch/run/$name
  mkdir -p "$run/tmp"
  { cat "$blocks/setup.sh"; echo "pwd >'$run/dir'"; cat "$block"; } >"$run/script.sh"
  out=$run/stdout
  err=$run/stderr
  touch "$run/started"
  status=0
  # timeout leads a process group of its own: what the example leaves running is found there.
  (cd "$tree" && exec env -u KYTE_IN_NETNS TMPDIR="$run/tmp" \
     KYTE_OBJECT_NAMESPACE="$run/objects" \
     timeout 300 bash -e -o pipefail "$run/script.sh" >"$out" 2>"$err") &
  group=$!
  wait "$group" || status=$?
  # (a process that has ended but not yet been reaped does not count)
  if left=$(ps -e -o pgid=,stat=,pid=,args= | awk -v g="$group" '$1 == g && $2 !~ /^Z/' |
              grep .); then
    fail "left running: $left"
    kill -- -"$group" 2>/dev/null || true
  fi
  written=$(find "$src" "${untouched[@]}" -type f -newer "$run/started" -print)
  [ -z "$written" ] || fail "wrote into the checkout: $written"
  if [ ! -s "$run/dir" ]; then
    fail "the setup block failed (status $status)"
  else
    cd "$(cat "$run/dir")"
    set +e +o pipefail
    "check_${name//-/_}"
    if [ "$(cat "$blocks/$name.form" 2>/dev/null)" = whole ]; then
      # Progress lines end in a carriage return and print over each other; the last one counts.
      sed 's/\r$//; s/.*\r//' "$out" | diff -u "$blocks/$name.out" - >"$run/output.diff" ||
        fail "its standard output is not the README's block: $(cat "$run/output.diff")"
    elif [ -e "$blocks/$name.out" ]; then
      while IFS= read -r line; do
        cat "$out" "$err" | tr -d '\r' | grep -Fxq -- "$line" || fail "printed no line \"$line\""
      done <"$blocks/$name.out"
    fi
    set -e -o pipefail
    cd "$scratch"
  fi
  if [ "$failures" -gt "$before" ]; then
    echo "--- $name: standard output (end)"; tail -n 20 "$out"
    echo "--- $name: standard error (end)"; tail -n 20 "$err"
  else
    echo "ok $name"
  fi
done

# --- what the README says that no example shows (by name: "statements") ------------------------

if [ ${#only[@]} -eq 0 ] || [[ " ${only[*]} " == *" statements "* ]]; then
  before=$failures
  name=run-in-netns
  netns=$src/platform/netns/run-in-netns
  status=0
  help=$("$netns" --help 2>&1) || status=$?
  [ "$status" = 0 ] && [[ "$help" == "usage: run-in-netns COMMAND"* ]] ||
    fail "--help: status $status, printed: $help"
  status=0
  "$netns" >"$scratch/netns.out" 2>"$scratch/netns.err" || status=$?
  [ "$status" != 0 ] && [ ! -s "$scratch/netns.out" ] &&
    grep -q '^usage: run-in-netns COMMAND' "$scratch/netns.err" ||
    fail "without a command: status $status, printed:" \
      "$(cat "$scratch/netns.out" "$scratch/netns.err")"

  # build/lib holds what the README's table of deliverables names there, and nothing else.
  name=build/lib
  listed=$(grep -o '`build/lib/[^`]\+`' "$src/README.md" | tr -d '`' | sed 's|^build/lib/||' |
             sort -u)
  there=$(ls "$build/lib" | sort)
  [ "$listed" = "$there" ] ||
    fail "holds what the README does not list, or lacks what it lists: $(diff <(echo "$listed") \
      <(echo "$there") | grep '^[<>]' | tr '\n' ' ')"

  # help skycast shows every call of the README's table of calls.
  name=skycast-help
  if [ -n "$octave" ]; then
    help=$(cd "$scratch" && octave-cli --norc --quiet \
             --eval "addpath('$build/octave'); help skycast" 2>&1) || true
    grep -o '^| `[^`]*skycast([^`]*`' "$src/README.md" | sed 's/^| `//; s/`$//; s/^r = //' |
      while IFS= read -r call; do
        grep -Fq -- "$call" <<<"$help" || echo "$call"
      done >"$scratch/help.missing"
    [ ! -s "$scratch/help.missing" ] ||
      fail "help skycast shows none of: $(tr '\n' ';' <"$scratch/help.missing"); it says: $help"
  else
    echo "skip skycast-help: needs GNU Octave (octave-cli and build/octave/skycast.mex)"
  fi
  [ "$failures" -gt "$before" ] ||
    echo "ok what the README says of run-in-netns, build/lib and skycast's help"
fi

# A failed run keeps its scratch directories for a look.
[ "$failures" = 0 ] || { echo "$failures failures; the runs are in $scratch/run"; exit 1; }
rm -rf "$scratch"
echo "every README example runs as written"
