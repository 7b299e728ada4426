#!/bin/sh
# Writes soc.json from soc.v with Yosys (not needed to build or test; the
# output is committed): synthesis to gate-level cells, the hierarchy kept.
set -eu
cd "$(dirname "$0")"
yosys -q -p 'read_verilog soc.v; synth -top soc; write_json soc.json'
