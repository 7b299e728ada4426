module top (input a, output y);
  wire [99999999:0] wide;
  INV_X1 u1 (.A(a), .ZN(y));
endmodule
