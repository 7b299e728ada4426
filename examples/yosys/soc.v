// A small multi-module design for the zema tool's Yosys reader: a top
// module with two generate-built channels, each a shift register feeding a
// small memory, and a status register. yosys.sh turns it into soc.json.
module shifter #(parameter WIDTH = 4) (
  input clk,
  input rst,
  input in,
  output [WIDTH-1:0] q
);
  reg [WIDTH-1:0] data_q;
  always @(posedge clk)
    if (rst) data_q <= 0;
    else data_q <= {data_q[WIDTH-2:0], in};
  assign q = data_q;
endmodule

module store (
  input clk,
  input we,
  input [1:0] addr,
  input [3:0] wdata,
  output [3:0] rdata
);
  reg [3:0] mem [0:3];
  always @(posedge clk)
    if (we) mem[addr] <= wdata;
  assign rdata = mem[addr];
endmodule

module soc (
  input clk,
  input rst,
  input [1:0] serial_in,
  input [1:0] addr,
  output [7:0] out,
  output busy
);
  genvar i;
  generate
    for (i = 0; i < 2; i = i + 1) begin : channel
      wire [3:0] word;
      shifter #(.WIDTH(4)) u_shift (.clk(clk), .rst(rst), .in(serial_in[i]), .q(word));
      store u_store (.clk(clk), .we(word[3]), .addr(addr), .wdata(word),
                     .rdata(out[4*i+3:4*i]));
    end
  endgenerate
  reg state_q;
  always @(posedge clk) state_q <= rst ? 1'b0 : ^out;
  assign busy = state_q & ~rst;
endmodule
