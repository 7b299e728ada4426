module top (input a, output y);
  and (y);
endmodule
