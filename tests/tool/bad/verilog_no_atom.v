// The cell types are modules that only assign: nothing becomes an atom.
module INV_X9 (input A, output ZN);
  assign ZN = A;
endmodule

module top (input a, output y);
  INV_X9 u1 (.A(a), .ZN(y));
endmodule
