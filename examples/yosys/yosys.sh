#!/bin/sh
# Writes soc.json and lanes.json from their Verilog with Yosys (not needed to
# build or test; the output is committed): synthesis to gate-level cells, the
# hierarchy kept.
set -eu
cd "$(dirname "$0")"
yosys -q -p 'read_verilog soc.v; synth -top soc; write_json soc.json'
yosys -q -p 'read_verilog lanes.v; synth -top lanes; write_json lanes.json'
