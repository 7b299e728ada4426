#!/bin/sh
# Writes NAME.json for each NAME.v here with Debian's Yosys 0.23, the cells
# of cells.lib read as black boxes (not needed to build or test; the output
# is committed): the route whose names the Verilog reader must match.
set -eu
cd "$(dirname "$0")"
for netlist in hier:top flat:flat\$top shadow:top; do
  name=${netlist%%:*}
  top=${netlist#*:}
  yosys -q -p "read_liberty -lib cells.lib; read_verilog $name.v; hierarchy -top \\$top; write_json $name.json"
done
