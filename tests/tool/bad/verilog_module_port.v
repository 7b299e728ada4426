module top (input a, output y);
  sub s (.a(a), .y(y), .z());
endmodule

module sub (input a, output y);
  INV_X1 u1 (.A(a), .ZN(y));
endmodule
