module top (input a, output y);
  /* a comment that never ends
  INV_X1 u1 (.A(a), .ZN(y));
endmodule
