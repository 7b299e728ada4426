// INV_X1 is a cell of cells.lib, but this file defines a module of that
// name below the cells that use it: the module wins, as in Yosys.
module top (input a, input b, output y);
  wire n;
  INV_X1 u_inv (.A(a), .ZN(n));
  NAND2_X1 u_nand (.A1(n), .A2(b), .ZN(y));
endmodule

module INV_X1 (input A, output ZN);
  NAND2_X1 g (.A1(A), .A2(A), .ZN(ZN));
endmodule
