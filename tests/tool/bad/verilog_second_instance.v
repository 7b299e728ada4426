module top (input a, output y, output z);
  INV_X1 u1 (.A(a), .ZN(y));
  INV_X1 \u1  (.A(a), .ZN(z));
endmodule
