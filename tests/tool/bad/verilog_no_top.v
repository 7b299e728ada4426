module a (input i, output o);
  INV_X1 u1 (.A(i), .ZN(o));
endmodule

module b (input i, output o);
  INV_X1 u1 (.A(i), .ZN(o));
endmodule
