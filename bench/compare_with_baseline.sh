#!/bin/sh
# Checks that the plain baseline names generated designs exactly as the
# library does: `zema convert` and `zema_baseline` print the same rows.
# usage: compare_with_baseline.sh ZEMA ZEMA_BASELINE ZEMA_GEN_DESIGN
set -eu
zema=$1
baseline=$2
generate=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for alphabet in rtl wild plain octree large; do
  for seed in 1 2; do
    design="$scratch/$alphabet$seed.json"
    if [ "$alphabet" = large ]; then
      # Over 32 MiB: the reader populates its record arrays on another core.
      [ "$seed" = 1 ] || continue
      "$generate" --alphabet rtl --seed 3 --instances 320000 --atoms 320000 -o "$design"
    elif [ "$alphabet" = octree ]; then
      # A complete 8-ary tree, one atom per leaf.
      "$generate" --alphabet rtl --seed "$seed" --instances 20000 --shape complete --fanout 8 \
        --leaf-atoms --missing-ids 5 -o "$design"
    else
      "$generate" --alphabet "$alphabet" --seed "$seed" --instances 20000 --atoms 20000 \
        --names 500 --missing-ids 5 -o "$design"
    fi
    "$zema" convert "$design" >"$scratch/zema.tsv"
    "$baseline" "$design" >"$scratch/baseline.tsv"
    if ! cmp -s "$scratch/zema.tsv" "$scratch/baseline.tsv"; then
      echo "baseline differs from zema convert on $alphabet seed $seed:" >&2
      diff "$scratch/zema.tsv" "$scratch/baseline.tsv" | head -10 >&2
      exit 1
    fi
  done
done
echo "compare_with_baseline: the baseline gives zema's rows on every design"
