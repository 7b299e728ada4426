#!/bin/sh
# Feeds every converted name of `zema map` back into `zema lookup --names -`
# and requires the id of each row back: the name map and the lookup agree
# on every name the strategy can look up (under reversible, the names
# outside the hierarchy have no converted full name, and names of id 0,
# which no lookup can tell from "not found", are left out).
#
# usage: roundtrip.sh ZEMA DESIGN STRATEGY [ZEMA OPTIONS...]
set -u
zema=$1
design=$2
strategy=$3
shift 3
scratch=$(mktemp -d) || exit 2
trap 'rm -rf "$scratch"' EXIT

"$zema" map "$design" --strategy "$strategy" "$@" >"$scratch/map" || { echo "map failed"; exit 1; }
# Rows with a converted name: column 2; the ids in column 1.
awk -F'\t' 'NR > 1 && $2 != "" && $1 != 0 { print $2 > "'"$scratch"'/names"; print $1 > "'"$scratch"'/ids" }' \
  "$scratch/map"
[ -s "$scratch/names" ] || { echo "the map has no names"; exit 1; }
"$zema" lookup "$design" --names - --strategy "$strategy" "$@" <"$scratch/names" >"$scratch/found" ||
  { echo "lookup failed or missed names"; exit 1; }
cut -f2 "$scratch/found" | cmp -s - "$scratch/ids" || {
  echo "ids differ between map and lookup:"
  cut -f2 "$scratch/found" | diff "$scratch/ids" - | head -10
  exit 1
}
echo "$(wc -l <"$scratch/ids") names of the $strategy map looked up to their ids"
