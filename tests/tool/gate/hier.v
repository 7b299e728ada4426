// Two levels of hierarchy below the top: top holds two cores, each core an
// alu. Modules come before and after their use, names are escaped, nets are
// joined by assign, and pins are left open or out.
`timescale 1ns / 1ps

module top (clk, rst_n, din, dout, \pad.io , ready);
  input clk;
  input rst_n;
  input [3:0] din;
  output [3:0] dout;
  inout \pad.io ;
  output ready;

  wire [7:0] bus;
  wire [0:1] sel;
  wire pad_in, hi, lo;
  supply0 vss;

  (* keep *)
  core \u_core[0] (.clk(clk), .rst_n(rst_n), .a(din[1:0]), .b(bus[3:2]), .y(bus[5:4]), .ok(sel[0]));
  core \u_core[1] (clk, rst_n, din[3:2], {bus[1], bus[0]}, bus[7:6], sel[1]);
  PADBID \io$pad (.PAD(\pad.io ), .I(bus[4]), .OEN(lo), .C(pad_in));
  TIEHI \tie$hi (.Z(hi));
  TIELO \tie$lo (.Z(lo));
  RAM16X4 mem0 (.A(din), .D({bus[7:6], bus[5:4]}), .WE(hi), .CLK(clk), .Q(dout));
  NAND2_X1 \ready_reg$n (.A1(sel[0]), .A2(sel[1]), .ZN(ready));
  DFF_X1 \1st_stage (.D(pad_in), .CK(clk), .Q(bus[0]), .QN());
  DFF_X1 \$copy (.D(bus[0]), .CK(clk), .Q(bus[1]));
  assign bus[3:2] = {bus[0], vss};
endmodule

module alu (input [1:0] a, input [1:0] b, output [1:0] s, output c);
  wire c0, \sum.0 ;
  HA_X1 h0 (.A(a[0]), .B(b[0]), .S(\sum.0 ), .CO(c0));
  HA_X1 h1 (.A(a[1]), .B(c0), .S(s[1]), .CO(c));
  AOI22_X1 \aoi[0] (.A1(a[0]), .A2(b[1]), .B1(a[1]), .B2(b[0]), .ZN());
  assign s[0] = \sum.0 ;
endmodule

module core (
    input clk,
    input rst_n,
    input [1:0] a,
    input [1:0] b,
    output [1:0] y,
    output ok
);
  wire [1:0] sum;
  wire carry, n1;
  alu u_alu (.a(a), .b(b), .s(sum), .c(carry));
  DFFR_X1 \y_reg[0] (.D(sum[0]), .RN(rst_n), .CK(clk), .Q(y[0]));
  DFFR_X1 \y_reg[1] (.D(sum[1]), .RN(rst_n), .CK(clk), .Q(y[1]));
  DLH_X1 ok_latch (.D(n1), .G(clk), .Q(ok));
  INV_X1 U1 (.A(carry), .ZN(n1));
  SDFF2 bank (.D(sum), .CK(clk), .Q());
  MUX2_X1 \mux/0 (.A(a[0]), .B(b[0]), .S(carry), .Z(implicit_net));
endmodule
