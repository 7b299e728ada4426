module top (input a, output y);
endmodule

module top (input a, output y);
endmodule
