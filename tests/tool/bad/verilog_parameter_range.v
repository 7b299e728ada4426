module top #(parameter W = 4) (input [W-1:0] a, output y);
  INV_X1 u1 (.A(a[0]), .ZN(y));
endmodule
