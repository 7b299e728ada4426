#!/bin/sh
# Runs the zema tool over real netlists, every DIR/*.json.xz (Yosys
# write_json output), read directly:
#  - `zema check` must pass with both strategies;
#  - `zema convert` must succeed with both strategies and print one row per
#    atom and oterm after the header, with no unanswered ("-") name, and under
#    fusion no empty full name;
#  - every converted name of `zema map` must look up to its id (roundtrip.sh);
# and one line per design gives the counts and the time of reading the
# netlist against the whole convert (--stats).
#
# usage: run_realdesigns.sh DIR ZEMA          exit 77 (skip) when DIR is absent
#        run_realdesigns.sh --self-test ZEMA  checks the Yosys reader on a small
#                                             netlist written below
set -u
here=$(cd "$(dirname "$0")" && pwd)
roundtrip=$here/../tool/roundtrip.sh

scratch=$(mktemp -d) || exit 2
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

# stat_of PHASE FILE: the wall seconds of a phase in --stats output.
stat_of() { sed -n "s/^zema: stats: $1 *\([0-9.]*\) s wall.*/\1/p" "$2"; }

# run_design NAME NETLIST
run_design() {
  name=$1
  netlist=$2
  summary=
  # Every netlist read costs most of each command's time under the
  # sanitizers: the map both strategies are held to is made once.
  "$zema" map "$netlist" --strategy reversible >"$scratch/map" || fail "$name: zema map"
  for strategy in fusion reversible; do
    "$zema" check "$netlist" --strategy "$strategy" >"$scratch/check" 2>&1 ||
      { cat "$scratch/check"; fail "$name: zema check --strategy $strategy"; }
    checked=$(sed -n 's/checked \([0-9]*\) names.*/\1/p' "$scratch/check")
    "$zema" convert "$netlist" --strategy "$strategy" --stats >"$scratch/rows" 2>"$scratch/err" ||
      { cat "$scratch/err"; fail "$name: zema convert --strategy $strategy"; }
    rows=$(($(wc -l <"$scratch/rows") - 1))
    atoms=$(grep -c '^atom' "$scratch/rows")
    oterms=$(grep -c '^oterm' "$scratch/rows")
    [ "$rows" -eq $((atoms + oterms)) ] || fail "$name: $strategy convert printed stray lines"
    [ "$(($(wc -l <"$scratch/map") - 1))" -eq "$rows" ] ||
      fail "$name: $strategy convert has $rows rows, the reversible map $(wc -l <"$scratch/map")"
    awk -F'\t' -v s="$strategy" \
      'NR > 1 && ($4 == "-" || $5 == "-" || (s == "fusion" && $5 == "")) { print; bad = 1; exit }
       END { exit bad }' "$scratch/rows" || fail "$name: $strategy convert left a name unanswered"
    sh "$roundtrip" "$zema" "$netlist" "$strategy" >"$scratch/roundtrip" ||
      { cat "$scratch/roundtrip"; fail "$name: $strategy map and lookup disagree"; }
    summary="$summary; $strategy: $checked names checked, read $(stat_of read "$scratch/err") s of $(stat_of total "$scratch/err") s"
  done
  echo "$name: $atoms atoms, $oterms oterms$summary"
}

# A netlist in the shape Yosys writes: the top module comes last and holds
# two instances of "cell_pair" with generate-style names, a memory, cells of
# types that become COMB (an undefined module with an inout port, a
# word-level $neg driving a whole net, a compound gate on an "upto" net); the
# unused module "spare" sits on a line of its own.
self_test() {
  cat >"$scratch/tiny.json" <<'EOT'
{"creator":"test","modules":{
"cell_pair":{"attributes":{},"ports":{},"cells":{
 "$auto$ff.cc:266:slice$7":{"hide_name":1,"type":"$_SDFFE_PP0P_",
  "port_directions":{"C":"input","D":"input","Q":"output"},"connections":{"C":[2],"D":[3],"Q":[4]}},
 "nand":{"hide_name":0,"type":"$_NAND_",
  "port_directions":{"A":"input","B":"input","Y":"output"},"connections":{"A":[4],"B":[3],"Y":[5]}}},
 "netnames":{"$hidden":{"hide_name":1,"bits":[5]},"q":{"hide_name":0,"bits":[4]},
  "bus":{"hide_name":0,"bits":[9,5],"offset":3}}},
"spare":{"attributes":{},"ports":{},"cells":{},"netnames":{}},
"chip":{"attributes":{"top":"00000000000000000000000000000001"},"ports":{},"cells":{
 "u[0].p":{"type":"cell_pair","port_directions":{},"connections":{}},
 "mem":{"type":"$mem_v2","port_directions":{"RD_DATA":"output","WR_EN":"input"},
  "connections":{"RD_DATA":[6,7],"WR_EN":[8]}},
 "U1":{"type":"ext_cell","port_directions":{"PAD":"inout","O":"output"},
  "connections":{"PAD":[8],"O":[7,6]}},
 "neg":{"type":"$neg","port_directions":{"A":"input","Y":"output"},
  "connections":{"A":[6,7],"Y":[10,11]}},
 "x":{"type":"$_AOI3_","port_directions":{"Y":"output"},"connections":{"Y":[12]}},
 "u[1].p":{"type":"cell_pair","port_directions":{},"connections":{}}},
 "netnames":{"rd":{"hide_name":0,"bits":[6,7]},"sum":{"hide_name":0,"bits":[10,11]},
  "rev":{"hide_name":0,"bits":[12,13],"upto":1}}}}}
EOT
  cat >"$scratch/expected" <<'EOT'
kind	index	id	unit	full
atom	0	5	dff0	dff0
oterm	0.0	4	aq	u[0]_p/a_auto_ff_cc_266_slice_7/aq
atom	1	6	nand	u[0]_p/nand
oterm	1.0	7	w0	w0
atom	2	10	ram1	ram1
oterm	2.0	9	ard_data	mem/ard_data
atom	3	11	au1	au1
oterm	3.0	12	w1	w1
atom	4	13	neg	neg
oterm	4.0	14	w2	w2
atom	5	15	x	x
oterm	5.0	16	w3	w3
atom	6	20	dff2	dff2
oterm	6.0	19	aq	u[1]_p/a_auto_ff_cc_266_slice_7/aq
atom	7	21	nand	u[1]_p/nand
oterm	7.0	22	w4	w4
EOT
  # The names outside the hierarchy: the cells of the ordinary atoms and the
  # nets of the COMB outputs (bit 5 is "bus" bit 4, a visible net beating a
  # hidden one; U1.O drives part of "rd", named by its first bit; bit 12 is
  # "rev" bit 1, counting down), each in the instance that holds its cell.
  cat >"$scratch/expected_outside" <<'EOT'
/u[0].p/$auto$ff.cc:266:slice$7
/u[0].p/bus[4]
/mem
/rd[1]
/sum
/rev[1]
/u[1].p/$auto$ff.cc:266:slice$7
/u[1].p/bus[4]
EOT
  "$zema" convert "$scratch/tiny.json" >"$scratch/out" || fail "self-test: convert"
  diff -u "$scratch/expected" "$scratch/out" || fail "self-test: converted names differ"
  "$zema" map "$scratch/tiny.json" --strategy reversible | awk -F'\t' '$4 == "outside" { print $5 }' |
    diff -u "$scratch/expected_outside" - || fail "self-test: names outside the hierarchy differ"
  # The same design from the compressed netlist, from its design file, and
  # without the top mark once "spare" is gone; with "spare" there and no mark
  # there is no top.
  xz -c "$scratch/tiny.json" >"$scratch/tiny.json.xz" || fail "self-test: compress"
  gzip -c "$scratch/tiny.json" >"$scratch/tiny.json.gz" || fail "self-test: compress"
  for variant in tiny.json.xz tiny.json.gz; do
    "$zema" convert "$scratch/$variant" | cmp -s - "$scratch/expected" ||
      fail "self-test: $variant gives another design"
  done
  "$zema" import-yosys "$scratch/tiny.json.xz" -o "$scratch/tiny.zema.json" ||
    fail "self-test: import-yosys"
  "$zema" convert "$scratch/tiny.zema.json" | cmp -s - "$scratch/expected" ||
    fail "self-test: the imported design file gives another design"
  sed -e 's/"top"/"other"/' -e '/^"spare"/d' "$scratch/tiny.json" | "$zema" convert - |
    cmp -s - "$scratch/expected" || fail "self-test: top found without its mark differs"
  if sed 's/"top"/"other"/' "$scratch/tiny.json" | "$zema" convert - >/dev/null 2>&1; then
    fail "self-test: two unused modules and no top mark were accepted"
  fi
  run_design tiny "$scratch/tiny.json"
}

[ $# -eq 2 ] || { echo "usage: $0 DIR|--self-test ZEMA" >&2; exit 2; }
zema=$2
if [ "$1" = --self-test ]; then
  self_test
  exit 0
fi
dir=$1
if [ ! -d "$dir" ]; then
  echo "skipped: no directory $dir"
  exit 77
fi
found=0
for netlist in "$dir"/*.json.xz; do
  [ -f "$netlist" ] || continue
  found=1
  run_design "$(basename "$netlist" .json.xz)" "$netlist"
done
[ "$found" -eq 1 ] || { echo "skipped: no *.json.xz in $dir"; exit 77; }
exit 0
