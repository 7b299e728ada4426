#!/bin/sh
# Writes a Yosys netlist whose top module holds 100 instances of m0, each
# m{i} one instance of m{i+1} and the last, m{COUNT-1}, one flip-flop: a
# chain as deep as the hierarchy allows, 1,000,100 names for COUNT 9998,
# whose full paths take tens of gigabytes.
#
# usage: make_chain.sh COUNT FILE
awk -v count="$1" 'BEGIN {
  printf "{\"modules\": {\"top\": {\"cells\": {"
  for (c = 0; c < 100; ++c) printf "%s\"c%d\": {\"type\": \"m0\"}", (c ? ", " : ""), c
  printf "}}"
  for (m = 0; m + 1 < count; ++m) {
    printf ",\n\"m%d\": {\"cells\": {\"c\": {\"type\": \"m%d\"}}}", m, m + 1
  }
  printf ",\n\"m%d\": {\"cells\": {\"q\": {\"type\": \"$_DFF_P_\", \"port_directions\": {\"Q\": \"output\"}}}}", count - 1
  print "}}"
}' >"$2"
