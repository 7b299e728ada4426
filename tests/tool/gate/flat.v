// A flat netlist as synthesis writes it: escaped made-up names, registers
// named after buses, outputs that drive part of a bus, whole buses and nets
// that assign joins, constants and concatenations on inputs.
module \flat$top (input clk, input [7:0] d, output [7:0] q, output [2:5] parity);
  wire [7:0] \data_q ;
  wire [3:0] \$auto$alumacc.cc:485:replace_alu$12.X ;
  wire [3:0] s1, s2;
  wire n10, n11, \1n ;
  genvar unused_genvar;
  DFF_X1 \data_q_reg[0] (.D(d[0]), .CK(clk), .Q(\data_q [0]), .QN());
  DFF_X1 \data_q_reg[1] (.D(d[1]), .CK(clk), .Q(\data_q [1]), .QN(n10));
  DFF_X1 \data_q_reg[2] (.D(d[2]), .CK(clk), .Q(\data_q [2]));
  DFF_X1 \data_q_reg[3] (.D(d[3]), .CK(clk), .Q(\data_q [3]));
  SDFF2 \data_q_reg[5:4] (.D(d[5:4]), .CK(clk), .Q(\data_q [5:4]));
  SDFF2 \data_q_reg[7:6] (.D(d[7:6]), .CK(clk), .Q(\data_q [7:6]));
  HA_X1 \$auto$alumacc.cc:485:replace_alu$12.ha0 (.A(\data_q [0]), .B(\data_q [1]),
      .S(\$auto$alumacc.cc:485:replace_alu$12.X [0]), .CO(\$auto$alumacc.cc:485:replace_alu$12.X [1]));
  HA_X1 \$auto$alumacc.cc:485:replace_alu$12.ha1 (.A(\data_q [2]), .B(\data_q [3]), .CO(n11),
      .S(\$auto$alumacc.cc:485:replace_alu$12.X [2]));
  NAND2_X1 U10 (.A1(n10), .A2(n11), .ZN(\1n ));
  NAND2_X1 U11 (.A1(\1n ), .A2(1'b1), .ZN(s1[0]));
  AOI22_X1 U12 (.A1(s1[0]), .A2(\data_q [4]), .B1(\data_q [5]), .B2(1'b0), .ZN(s2[3]));
  MUX2_X1 U13 (.A(s2[3]), .B(d[7]), .S(d[6]), .Z(parity[3]));
  INV_X1 U14 (.A(parity[3]), .ZN(parity[2]));
  INV_X1 U15 (.A(parity[2]), .ZN(s1[2]));
  INV_X1 U16 (.A(s1[2]), .ZN(s2[1]));
  RAM16X4 \mem[0] (.A({d[3], d[2:1], 1'b0}), .D(\data_q [7:4]), .WE(clk), .CLK(clk), .Q(s1));
  assign q = \data_q ;
  assign parity[4:5] = s2[1:0];
  assign s2[0] = 1'b0;
  assign \$auto$alumacc.cc:485:replace_alu$12.X [3] = s1[3];
endmodule
