// Three instances whose names differ only in case and punctuation, so that
// their converted names clash: u.lane, u_Lane and u_lane all become u_lane
// and are told apart by suffixes. For the README's worked flow.
module lane (
  input clk,
  input d,
  output reg q
);
  always @(posedge clk) q <= d;
endmodule

module lanes (
  input clk,
  input [2:0] d,
  output [2:0] q
);
  lane \u.lane (.clk(clk), .d(d[0]), .q(q[0]));
  lane u_Lane (.clk(clk), .d(d[1]), .q(q[1]));
  lane u_lane (.clk(clk), .d(d[2]), .q(q[2]));
endmodule
