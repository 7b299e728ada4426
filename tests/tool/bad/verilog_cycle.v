module root (input a, output y);
  mid m (a, y);
endmodule

module mid (input a, output y);
  leaf l (a, y);
endmodule

module leaf (input a, output y);
  mid m (a, y);
endmodule
