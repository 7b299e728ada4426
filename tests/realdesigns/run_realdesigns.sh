#!/bin/sh
# Runs the zema tool over real netlists: every DIR/*.json.xz (Yosys write_json
# output) is turned into a design file by tools/yosys_to_zema.py, then
#  - `zema check` must pass with both strategies;
#  - `zema convert` must succeed with both strategies and print one row per
#    atom and oterm after the header, with no unanswered ("-") name, and under
#    fusion no empty full name;
# and one line per design gives the counts, how many hierarchy names the
# fusion converter kept, legalised or suffixed (from `zema map`), and the wall
# time of each convert.
#
# usage: run_realdesigns.sh DIR ZEMA          exit 77 (skip) when DIR is absent
#        run_realdesigns.sh --self-test ZEMA  checks the importer on a small
#                                             netlist written below
# PYTHON names the interpreter (default python3).
set -u
python=${PYTHON:-python3}
importer=$(cd "$(dirname "$0")/../../tools" && pwd)/yosys_to_zema.py

scratch=$(mktemp -d) || exit 2
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

now_ns() { date +%s%N; }

# Counts kept / legalised / suffixed hierarchy names: a map node is compared
# with the raw name of its id; "suffixed" means NAME_<digits> where NAME is a
# sibling's converted name.
classify() {
  "$python" - "$1" "$2" <<'EOF'
import collections, re, sys
raw = {}
with open(sys.argv[1], encoding="utf-8") as f:
    for line in f:
        ident, scope, name = line.rstrip("\n").split("\t", 2)
        raw[ident] = (scope, name)
nodes = []
with open(sys.argv[2], encoding="utf-8") as f:
    for line in f:
        ident, full, _ = line.rstrip("\n").split("\t")
        nodes.append((ident, full.rpartition("/")))
siblings = collections.defaultdict(set)
for _, (parent, _, seg) in nodes:
    siblings[parent].add(seg)
count = collections.Counter()
for ident, (parent, _, seg) in nodes:
    scope, name = raw[ident]
    if scope == "free":
        count["made-up"] += 1
    elif seg == name:
        count["kept"] += 1
    else:
        m = re.fullmatch(r"(.+)_[0-9]+", seg)
        count["suffixed" if m and m.group(1) in siblings[parent] else "legalised"] += 1
print("%d kept, %d legalised, %d suffixed, %d made-up"
      % (count["kept"], count["legalised"], count["suffixed"], count["made-up"]))
EOF
}

# run_design NAME NETLIST: imports NETLIST and runs the checks above.
run_design() {
  name=$1
  design=$scratch/$name.json
  "$python" "$importer" "$2" -o "$design" --names "$scratch/$name.names" --stats \
    2>"$scratch/stats" || { cat "$scratch/stats"; fail "$name: import"; }
  stats=$(cat "$scratch/stats")
  atoms=$(echo "$stats" | sed -n 's/.* atoms=\([0-9]*\).*/\1/p')
  oterms=$(echo "$stats" | sed -n 's/.* oterms=\([0-9]*\).*/\1/p')
  summary=
  for strategy in fusion reversible; do
    "$zema" check "$design" --strategy "$strategy" >"$scratch/check" 2>&1 ||
      { cat "$scratch/check"; fail "$name: zema check --strategy $strategy"; }
    checked=$(sed -n 's/checked \([0-9]*\) names.*/\1/p' "$scratch/check")
    start=$(now_ns)
    "$zema" convert "$design" --strategy "$strategy" >"$scratch/rows" 2>"$scratch/err" ||
      { cat "$scratch/err"; fail "$name: zema convert --strategy $strategy"; }
    ms=$(( ($(now_ns) - start) / 1000000 ))
    rows=$(wc -l <"$scratch/rows")
    [ "$rows" -eq $((atoms + oterms + 1)) ] ||
      fail "$name: $strategy convert printed $rows lines for $atoms atoms and $oterms oterms"
    awk -F'\t' -v s="$strategy" \
      'NR > 1 && ($4 == "-" || $5 == "-" || (s == "fusion" && $5 == "")) { print; bad = 1; exit }
       END { exit bad }' "$scratch/rows" || fail "$name: $strategy convert left a name unanswered"
    summary="$summary; $strategy: $checked names checked, convert $ms ms"
  done
  "$zema" map "$design" >"$scratch/map" || fail "$name: zema map"
  names=$(classify "$scratch/$name.names" "$scratch/map") || fail "$name: map analysis"
  echo "$name: $stats$summary; fusion names: $names"
}

# A netlist in the shape Yosys writes: the top module comes last and holds
# two instances of "cell_pair" with generate-style names, a memory, cells of
# types the importer names COMB (an undefined module with an inout port, a
# word-level $neg driving a whole net, a compound gate on an "upto" net); the
# unused module "spare" sits on a line of its own.
self_test() {
  cat >"$scratch/tiny.json" <<'EOF'
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
EOF
  cat >"$scratch/expected" <<'EOF'
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
EOF
  # The names outside the hierarchy: the cells of the ordinary atoms and the
  # nets of the COMB outputs (bit 5 is "bus" bit 4, a visible net beating a
  # hidden one; U1.O drives part of "rd", named by its first bit; bit 12 is
  # "rev" bit 1, counting down).
  cat >"$scratch/expected_free" <<'EOF'
$auto$ff.cc:266:slice$7
bus[4]
mem
rd[1]
sum
rev[1]
$auto$ff.cc:266:slice$7
bus[4]
EOF
  "$python" "$importer" "$scratch/tiny.json" -o "$scratch/tiny.zema.json" --names "$scratch/names" ||
    fail "self-test: import"
  "$zema" convert "$scratch/tiny.zema.json" >"$scratch/out" || fail "self-test: convert"
  diff -u "$scratch/expected" "$scratch/out" || fail "self-test: converted names differ"
  grep '	free	' "$scratch/names" | cut -f3 | diff -u "$scratch/expected_free" - ||
    fail "self-test: names outside the hierarchy differ"
  # The same design from the compressed netlist, and without the top mark
  # once "spare" is gone; with "spare" there and no mark there is no top.
  "$python" -c 'import lzma,sys; sys.stdout.buffer.write(lzma.compress(sys.stdin.buffer.read()))' \
    <"$scratch/tiny.json" >"$scratch/tiny.json.xz" || fail "self-test: compress"
  "$python" "$importer" "$scratch/tiny.json.xz" | cmp -s - "$scratch/tiny.zema.json" ||
    fail "self-test: xz input gives another design"
  sed -e 's/"top"/"other"/' -e '/^"spare"/d' "$scratch/tiny.json" | "$python" "$importer" - |
    cmp -s - "$scratch/tiny.zema.json" || fail "self-test: top found without its mark differs"
  if sed 's/"top"/"other"/' "$scratch/tiny.json" | "$python" "$importer" - >/dev/null 2>&1; then
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
