module top (input a, output y);
  INV_X1 u1 (.A(n[3]), .ZN(y));
endmodule
