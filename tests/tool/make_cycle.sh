#!/bin/sh
# Writes a Yosys netlist of COUNT modules m0 ... m{COUNT-1}, each holding one
# instance of the next and the last one of m0, under a top module: an
# instantiation cycle as long as the file allows.
#
# usage: make_cycle.sh COUNT FILE
awk -v count="$1" 'BEGIN {
  printf "{\"modules\": {\"top\": {\"cells\": {\"c\": {\"type\": \"m0\"}}}"
  for (m = 0; m < count; ++m) {
    printf ",\n\"m%d\": {\"cells\": {\"c\": {\"type\": \"m%d\"}}}", m, (m + 1) % count
  }
  print "}}"
}' >"$2"
