#!/bin/sh
# The saved map stands for its design: lookup, translate both ways and
# explain (text and JSON) print the same bytes and exit codes with --map
# MAP as with the design, for the map written as TSV and as JSON.
#
# usage: map_agrees.sh ZEMA DESIGN...
set -u
zema=$1
shift
scratch=$(mktemp -d) || exit 2
trap 'rm -rf "$scratch"' EXIT
status=0
# Both routes must print the same and exit alike: "COMMAND DESIGN ARGS..."
# and "COMMAND --map MAP ARGS...".
same() {
  design=$1
  map=$2
  command=$3
  shift 3
  "$zema" "$command" "$design" "$@" >"$scratch/a" 2>&1
  a=$?
  "$zema" "$command" --map "$map" "$@" >"$scratch/b" 2>&1
  b=$?
  if [ "$a" -ne "$b" ] || ! cmp -s "$scratch/a" "$scratch/b"; then
    echo "$design: zema $command $* differs with --map $(basename "$map") (exit $a and $b)"
    diff "$scratch/a" "$scratch/b" | head -5
    status=1
  fi
}
for design in "$@"; do
  "$zema" map "$design" >"$scratch/map.tsv" || { status=1; continue; }
  "$zema" map --format json "$design" >"$scratch/map.json" || { status=1; continue; }
  # Every converted name, every original, and names that name nothing.
  awk -F'\t' 'NR > 1 && $2 != "" { print $2 }' "$scratch/map.tsv" >"$scratch/names"
  awk -F'\t' 'NR > 1 && $5 != "-" { print $5 }' "$scratch/map.tsv" >"$scratch/originals"
  printf 'no/such/name\nNOPE\n' >>"$scratch/names"
  for map in "$scratch/map.tsv" "$scratch/map.json"; do
    same "$design" "$map" lookup --names "$scratch/names"
    same "$design" "$map" translate "$scratch/names"
    same "$design" "$map" translate --to converted "$scratch/originals"
    same "$design" "$map" explain --names "$scratch/names"
    same "$design" "$map" explain --format json --names "$scratch/originals"
  done
done
exit $status
