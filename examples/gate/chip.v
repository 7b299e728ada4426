// The gate-level example: a chip of four IO pads around a core, which holds
// two register files and a memory macro; two levels of hierarchy below the
// top. Names are as synthesis and place-and-route write them: escaped
// register and pad names, bus pins, an output left open.
`timescale 1ns / 1ps

module chip (clk, rst_n, \data[0] , \data[1] , ready);
  inout clk;
  inout rst_n;
  inout \data[0] ;
  inout \data[1] ;
  inout ready;

  wire clk_c, rst_n_c, ready_c, lo;
  wire [1:0] data_c;

  PADIO \clk$pad (.PAD(clk), .I(lo), .OEN(lo), .C(clk_c));
  PADIO \rst_n$pad (.PAD(rst_n), .I(lo), .OEN(lo), .C(rst_n_c));
  PADIO \data$pad[0] (.PAD(\data[0] ), .I(lo), .OEN(lo), .C(data_c[0]));
  PADIO \data$pad[1] (.PAD(\data[1] ), .I(lo), .OEN(lo), .C(data_c[1]));
  PADIO \ready$pad (.PAD(ready), .I(ready_c), .OEN(lo), .C());
  TIELO \tie$lo (.Z(lo));
  core u_core (.clk(clk_c), .rst_n(rst_n_c), .din(data_c), .ready(ready_c));
endmodule

module core (clk, rst_n, din, ready);
  input clk;
  input rst_n;
  input [1:0] din;
  output ready;

  wire [1:0] rf0_q, rf1_q;
  wire [7:0] mem_q;
  wire sel, en;

  regfile \u_rf[0] (.clk(clk), .rst_n(rst_n), .d(din), .q(rf0_q));
  regfile \u_rf[1] (.clk(clk), .rst_n(rst_n), .d(rf0_q), .q(rf1_q));
  SRAM64X8 u_sram (.A({rf1_q, rf0_q, din}), .D({4{rf1_q}}), .CLK(clk), .CEN(rst_n), .WEN(sel),
                   .Q(mem_q));
  DLH_X1 en_latch (.D(mem_q[7]), .G(clk), .Q(en));
  NAND2_X1 U3 (.A1(en), .A2(mem_q[0]), .ZN(sel));
  INV_X1 U4 (.A(sel), .ZN(ready));
endmodule

module regfile (clk, rst_n, d, q);
  input clk;
  input rst_n;
  input [1:0] d;
  output [1:0] q;

  wire [1:0] d_mux;
  wire hold;

  DFF2_X1 \data_q_reg[1:0] (.D(d_mux), .CK(clk), .Q(q));
  MUX2_X1 \d_mux[0]$U1 (.A(d[0]), .B(q[0]), .S(hold), .Z(d_mux[0]));
  MUX2_X1 \d_mux[1]$U2 (.A(d[1]), .B(q[1]), .S(hold), .Z(d_mux[1]));
  DFFR_X1 hold_reg (.D(d[0]), .RN(rst_n), .CK(clk), .Q(hold), .QN());
endmodule
