#!/bin/sh
# Reads NAME.v with --liberty cells.lib and NAME.json (what Yosys writes for
# it, make_json.sh) and fails unless both give every original name the same
# converted name: the name maps' converted and original columns, as sets.
#
# usage: same_names.sh ZEMA NAME STRATEGY
set -eu
zema=$1
name=$2
strategy=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$zema" map "$name.v" --liberty cells.lib --strategy "$strategy" | cut -f2,5 | sort >"$scratch/verilog"
"$zema" map "$name.json" --liberty cells.lib --strategy "$strategy" | cut -f2,5 | sort >"$scratch/json"
if ! cmp -s "$scratch/verilog" "$scratch/json"; then
  echo "$name ($strategy): the routes name differently (< Verilog, > Yosys JSON):"
  diff "$scratch/verilog" "$scratch/json" | head -40
  exit 1
fi
# Both routes must name something, or the comparison proves nothing.
[ "$(wc -l <"$scratch/verilog")" -gt 1 ]
