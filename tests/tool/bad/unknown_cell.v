module t(); FOO u (.Q(a)); endmodule
