`include "cells.v"
module top (input a, output y);
  INV_X1 u1 (.A(a), .ZN(y));
endmodule
