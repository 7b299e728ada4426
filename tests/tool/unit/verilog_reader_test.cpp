// The structural Verilog reader: what a netlist becomes (its atoms, their
// types and names, and the names of their oterms), how the format is told,
// and the one error line each bad netlist gives.
#include "tools/input/verilog_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/read_design.h"
#include "tools/input/verilog_lexer.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// ND2 (with a power pin) and INV are COMB, HA lists S before CO, BUF4 drives a bus, WIDE has
// more pins than a scan looks at, DFF and RAM are ordinary atoms.
std::string const kLibrary = R"(library (test) {
  type (b4) { base_type : array ; data_type : bit ; bit_width : 4 ; bit_from : 3 ; bit_to : 0 ; }
  cell (INV) { pin (A) { direction : input ; } pin (Y) { direction : output ; } }
  cell (ND2) { pg_pin (VDD) { pg_type : primary_power ; }
               pin (A) { direction : input ; } pin (B) { direction : input ; }
               pin (Y) { direction : output ; } }
  cell (HA) { pin (A) { direction : input ; } pin (B) { direction : input ; }
              pin (S) { direction : output ; } pin (CO) { direction : output ; } }
  cell (BUF4) { bus (A) { bus_type : b4 ; direction : input ; }
                bus (Z) { bus_type : b4 ; direction : output ; } }
  cell (WIDE) { pin (I0) { direction : input ; } pin (I1) { direction : input ; }
    pin (I2) { direction : input ; } pin (I3) { direction : input ; } pin (I4) { direction : input ; }
    pin (I5) { direction : input ; } pin (I6) { direction : input ; } pin (I7) { direction : input ; }
    pin (O1) { direction : output ; } pin (O0) { direction : output ; } }
  cell (DFF) { ff (IQ, IQN) { clocked_on : "CK" ; next_state : "D" ; }
    pin (D) { direction : input ; } pin (CK) { direction : input ; }
    pin (Q) { direction : output ; } pin (QN) { direction : output ; } }
  cell (RAM) { memory () { type : ram ; address_width : 4 ; word_width : 4 ; }
    bus (A) { bus_type : b4 ; direction : input ; } bus (Q) { bus_type : b4 ; direction : output ; } }
})";

// Reads `text` as a Verilog netlist with kLibrary; the error line, if any,
// in *error.
DESIGN_RECORDS read(std::string const& text, std::string* error,
                    UNKNOWN_CELLS unknown = UNKNOWN_CELLS::ERROR) {
  DESIGN_RECORDS records;
  error->clear();
  try {
    CELL_LIBRARY library;
    read_liberty(INPUT_TEXT::from_bytes(kLibrary, "test.lib", 1 << 20, true), &library);
    READ_OPTIONS options;
    options.m_max_instances = 1000;
    options.m_unknown_cells = unknown;
    read_verilog_netlist(INPUT_TEXT::from_bytes(text, "in.v", 1 << 20, true), options, &library,
                         &records);
  } catch (TOOL_ERROR const& failure) {
    *error = failure.text();
  }
  return records;
}

// A name as a test reads it: "/a/b" for an instance of the hierarchy,
// "~name@/a" for a name outside it, with the instance it lies in.
std::string shown(DESIGN_RECORDS const& records,
                  std::map<std::uint32_t, std::uint32_t> const& scopes, std::uint32_t record) {
  auto const path = [&](std::uint32_t at) {
    std::string text;
    for (; records.m_names[at].m_parent != kNoRecord; at = records.m_names[at].m_parent) {
      text.insert(0, "/" + std::string(records.text_of(at)));
    }
    return text.empty() ? std::string("/") : text;
  };
  if (records.m_names[record].m_kind == NAME_HIERARCHY) return path(record);
  auto const scope = scopes.find(record);
  return "~" + std::string(records.text_of(record)) + "@" +
         (scope != scopes.end() ? path(scope->second) : std::string("?"));
}

// Every atom: "TYPE NAME [OTERM, ...]", joined by "; ".
std::string atoms(DESIGN_RECORDS const& records) {
  std::map<int, char const*> const types = {
      {CDB_ATOM_COMB, "COMB"}, {CDB_ATOM_DFF, "DFF"}, {CDB_ATOM_RAM, "RAM"},
      {CDB_ATOM_AND, "AND"},   {CDB_ATOM_OR, "OR"},   {CDB_ATOM_XOR, "XOR"},
      {CDB_ATOM_INV, "INV"},   {CDB_ATOM_BUF, "BUF"}, {CDB_ATOM_TRI, "TRI"}};
  std::map<std::uint32_t, std::uint32_t> scopes;
  for (SCOPED_NAME const& scoped : records.m_scoped) scopes[scoped.m_name] = scoped.m_scope;
  std::string text;
  for (std::uint32_t a = 0; a < records.m_atoms.size(); ++a) {
    ATOM_RECORD const& atom = records.m_atoms[a];
    text += std::string(a != 0 ? "; " : "") + types.at(atom.m_type) + " " +
            shown(records, scopes, atom.m_name.m_value) + " [";
    for (std::uint32_t o = atom.m_oterm_begin; o < records.oterm_end(a); ++o) {
      text += (o != atom.m_oterm_begin ? ", " : "") +
              shown(records, scopes, records.m_oterms[o].m_value);
    }
    text += "]";
  }
  return text;
}

struct NETLIST_CASE {
  char const* what;
  char const* text;
  char const* atoms;
};

void PrintTo(NETLIST_CASE const& netlist, std::ostream* out) { *out << netlist.what; }

class NetlistTest : public ::testing::TestWithParam<NETLIST_CASE> {};

TEST_P(NetlistTest, BecomesItsAtomsAndOterms) {
  std::string error;
  DESIGN_RECORDS const records = read(GetParam().text, &error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(atoms(records), GetParam().atoms);
  // Every name outside the hierarchy lies in exactly one instance.
  std::size_t outside = 0;
  for (NAME_RECORD const& name : records.m_names) outside += name.m_kind != NAME_HIERARCHY;
  EXPECT_EQ(records.m_scoped.size(), outside);
}

INSTANTIATE_TEST_SUITE_P(
    Netlists, NetlistTest,
    ::testing::Values(
        NETLIST_CASE{
            "a COMB cell's output is named after the net it drives",
            "module top (input a, output y);\n  ND2 u1 (.A(a), .B(a), .Y(y));\nendmodule\n",
            "COMB /u1 [~y@/]"},
        NETLIST_CASE{"an ordinary atom is named outside, its outputs below its cell, open or not",
                     "module top (d, c, q); input d, c; output q;\n"
                     "  DFF r (.D(d), .CK(c), .Q(q));\nendmodule",
                     "DFF ~r@/ [/r/Q, /r/QN]"},
        NETLIST_CASE{"outputs come in the library's pin order",
                     "module top (input a, output s, output co);\n"
                     "  HA h (.CO(co), .B(a), .A(a), .S(s));\nendmodule",
                     "COMB /h [~s@/, ~co@/]"},
        NETLIST_CASE{"power pins may be wired, by name or after the others, and are no oterms",
                     "module top (input a, output y, z, inout vdd);\n"
                     "  ND2 u1 (.A(a), .VDD(vdd), .B(a), .Y(y));\n"
                     "  ND2 u2 (a, a, z, vdd);\nendmodule",
                     "COMB /u1 [~y@/]; COMB /u2 [~z@/]"},
        NETLIST_CASE{"empty and marked modules are black boxes: types of cells, never the top",
                     "(* blackbox *) module SPARE (input A, output Y);\nendmodule\n"
                     "module top (input a, output [1:0] q, output z);\n"
                     "  SRAM m (.D(a), .Q(q));\n  MAC x (.A(a), .Y(z));\n  ND2 n (.Y(z));\n"
                     "endmodule\n"
                     "(* keep, whitebox *) module MAC (input A, output Y);\n"
                     "  INV i (.A(A), .Y(Y));\nendmodule\n"
                     "module SRAM (input D, output [1:0] Q);\n  specify\n  endspecify\nendmodule\n"
                     "module ND2 (input A, output Y);\nendmodule\n",
                     "COMB /m [~q@/]; COMB /n [~z@/]; COMB /x [~z@/]"},
        NETLIST_CASE{"endmodule may name its module",
                     "module top (input a, output y);\n  INV u1 (.A(a), .Y(y));\nendmodule : top\n",
                     "COMB /u1 [~y@/]"},
        NETLIST_CASE{"a port named alone takes the direction, type and range before it",
                     "module top (input a, output [3:0] x, y, input wire [1:0] b, c);\n"
                     "  ND2 u1 (.A(c[1]), .Y(y[2]));\nendmodule",
                     "COMB /u1 [~y[2]@/]"},
        NETLIST_CASE{"ordered connections take the library's pin order",
                     "module top (input a, output s, output co);\n  HA h (a, a, s, co);\nendmodule",
                     "COMB /h [~s@/, ~co@/]"},
        NETLIST_CASE{
            "a wide cell's pins are found by name",
            "module top (input i, output [1:0] o);\n"
            "  WIDE w (.O0(o[0]), .I7(i), .I6(i), .I5(i), .I4(i), .I3(i), .I2(i), .I1(i),\n"
            "          .I0(i), .O1(o[1]));\nendmodule",
            "COMB /w [~o[1]@/, ~o[0]@/]"},
        NETLIST_CASE{"cells come in name order, an escaped name and a simple one alike",
                     "module top (input d, output q);\n  DFF z (.D(d), .Q(q));\n"
                     "  DFF \\a  (.D(d), .Q(q));\n  DFF \\y (.D(d), .Q(q));\nendmodule",
                     "DFF ~a@/ [/a/Q, /a/QN]; DFF ~y@/ [/y/Q, /y/QN]; DFF ~z@/ [/z/Q, /z/QN]"},
        NETLIST_CASE{"an escaped name keeps its backslash before $, \\ or a digit, as in Yosys",
                     "module top (input a);\n  ND2 \\r.x  (.Y(\\1n ));\n  ND2 \\$r  (.Y(\\$n ));\n"
                     "  ND2 \\\\r  (.Y(\\\\n ));\n  ND2 \\1r  (.Y(\\n.x ));\nendmodule",
                     "COMB /\\$r [~\\$n@/]; COMB /\\1r [~n.x@/]; COMB /\\\\r [~\\\\n@/]; "
                     "COMB /r.x [~\\1n@/]"},
        NETLIST_CASE{"selects name a net's bits by the net's own indices",
                     "module top (input a);\n  wire [7:4] w;\n  wire [0:3] u;\n"
                     "  ND2 c1 (.Y(w[6]));\n  ND2 c2 (.Y(u[2]));\n  ND2 c3 (.Y(w[4 +: 1]));\n"
                     "  ND2 c4 (.Y(u[3 -: 1]));\n  ND2 c5 (.Y(w[9]));\nendmodule",
                     "COMB /c1 [~w[6]@/]; COMB /c2 [~u[2]@/]; COMB /c3 [~w[4]@/]; "
                     "COMB /c4 [~u[3]@/]; COMB /c5 [~Y@/]"},
        NETLIST_CASE{"an output that drives a whole bus is named after it; a concatenation's "
                     "last part is its least significant",
                     "module top (input [3:0] a, output [3:0] b);\n  wire [1:0] c;\n  wire d;\n"
                     "  BUF4 u1 (.A(a), .Z(b));\n  BUF4 u2 (.A(a), .Z({b[2], c, d}));\n"
                     "  BUF4 u3 (.A(a), .Z(b[1:0]));\nendmodule",
                     "COMB /u1 [~b@/]; COMB /u2 [~d@/]; COMB /u3 [~b[0]@/]"},
        NETLIST_CASE{"a part select written against its net's direction takes the net's order, "
                     "as Yosys reads it",
                     "module top (input [3:0] a);\n  wire [7:0] d;\n  wire [0:7] e;\n"
                     "  BUF4 u1 (.A(a), .Z(d[2:5]));\n  BUF4 u2 (.A(a), .Z(e[5:2]));\n"
                     "  BUF4 u3 (.A(a), .Z(d[7:4]));\nendmodule",
                     "COMB /u1 [~d[2]@/]; COMB /u2 [~e[5]@/]; COMB /u3 [~d[4]@/]"},
        NETLIST_CASE{"assign joins bits, and the first net in name order names them",
                     "module top (input a);\n  wire x, b, z;\n  wire [1:0] v;\n  assign x = b;\n"
                     "  assign {z, v} = {a, v[0], x};\n  ND2 c1 (.Y(x));\n  ND2 c2 (.Y(v[0]));\n"
                     "endmodule",
                     "COMB /c1 [~b@/]; COMB /c2 [~b@/]"},
        NETLIST_CASE{"a net joined to a constant, or a supply net, names no output",
                     "module top (input a);\n  wire n;\n  supply1 vdd;\n  assign n = 1'b0;\n"
                     "  ND2 c1 (.Y(n));\n  ND2 c2 (.Y(vdd));\n  wire m = 1'b1;\n  ND2 c3 (.Y(m));\n"
                     "endmodule",
                     "COMB /c1 [~Y@/]; COMB /c2 [~Y@/]; COMB /c3 [~Y@/]"},
        NETLIST_CASE{
            "a constant is as wide as its size, an unsized one 32 bits",
            "module top;\n  wire n;\n  wire [3:0] p, q, r, s, t;\n  assign p = {n, 3'b0};\n"
            "  assign q = {n, 'b0};\n  assign r = {2{n, 1'b0}};\n  assign s = {n, 2'h3};\n"
            "  assign t = {n, 3};\n  BUF4 c1 (.Z(p));\n  BUF4 c2 (.Z(q));\n  BUF4 c3 (.Z(r));\n"
            "  BUF4 c4 (.Z(s));\n  BUF4 c5 (.Z(t));\nendmodule",
            "COMB /c1 [~n@/]; COMB /c2 [~Z@/]; COMB /c3 [~n@/]; COMB /c4 [~n@/]; "
            "COMB /c5 [~Z@/]"},
        NETLIST_CASE{
            "based numbers are as wide as Verilog makes them, whatever their form",
            "module top;\n  wire n;\n  wire [3:0] p, q, r, s, t;\n"
            "  assign p = {n, 3 'b1_01};\n  assign q = {n, 'hF};\n"
            "  assign r = {n, 1'sd1};\n  assign s = {n, 2'bx};\n  assign t = {n, '1};\n"
            "  BUF4 c1 (.Z(p));\n  BUF4 c2 (.Z(q));\n  BUF4 c3 (.Z(r));\n  BUF4 c4 (.Z(s));\n"
            "  BUF4 c5 (.Z(t));\nendmodule",
            "COMB /c1 [~n@/]; COMB /c2 [~Z@/]; COMB /c3 [~n@/]; COMB /c4 [~n@/]; "
            "COMB /c5 [~n@/]"},
        NETLIST_CASE{"a name used before any declaration is a net of one bit",
                     "module top;\n  ND2 c (.Y(later));\n  wire later;\nendmodule",
                     "COMB /c [~later@/]"},
        NETLIST_CASE{"gates are atoms of their kinds; unnamed ones are named by their place",
                     "module top (input a, input b, output y, output z, output w, output v);\n"
                     "  and g1 (y, a, b);\n  nand (z, a, b), n2 (v, a, b);\n"
                     "  buf #1 (w, v, a);\n  bufif1 (strong0, weak1) t (y, a, b);\nendmodule",
                     "BUF ~$buf$4:10@/ [/$buf$4:10/Y0, /$buf$4:10/Y1]; COMB /$nand$3:8 [~z@/]; "
                     "AND ~g1@/ [/g1/Y]; COMB /n2 [~v@/]; TRI ~t@/ [/t/Y]"},
        NETLIST_CASE{"a module is a level of the hierarchy, whether defined before or after use",
                     "module top (input a, output y);\n  sub s2 (.i(a), .o(y));\n  sub s1 (a, y);\n"
                     "endmodule\nmodule sub (i, o);\n  input i;\n  output o;\n"
                     "  INV u (.A(i), .Y(o));\nendmodule",
                     "COMB /s1/u [~o@/s1]; COMB /s2/u [~o@/s2]"},
        NETLIST_CASE{"a module of the file wins over a Liberty cell of its name",
                     "module top (input a, output y);\n  INV u (.A(a), .Y(y));\nendmodule\n"
                     "module INV (input A, output Y);\n  ND2 g (.A(A), .B(A), .Y(Y));\nendmodule",
                     "COMB /u/g [~Y@/u]"},
        NETLIST_CASE{
            "attributes, comments, directives, parameters and specify blocks are skipped",
            "`timescale 1ns / 1ps\n`celldefine\n/* a (* comment *) */\n"
            "(* top = 1, src = \"x.v:1 *)\" *)\nmodule top #(parameter W = 2) (a, y);\n"
            "  input a; // the input\n  output y;\n  wire y;\n  parameter P = {1, 2};\n"
            "  specify (a => y) = 1; endspecify\n"
            "  (* keep *) ND2 #(.X(1)) u (.A(a), .B(a), .Y(y));\nendmodule\n`endcelldefine\n",
            "COMB /u [~y@/]"}));

struct BAD_NETLIST {
  char const* what;
  std::string text;
  char const* error;
};

void PrintTo(BAD_NETLIST const& netlist, std::ostream* out) { *out << netlist.what; }

class BadNetlistTest : public ::testing::TestWithParam<BAD_NETLIST> {};

TEST_P(BadNetlistTest, GivesOneErrorLineWithItsPlace) {
  std::string error;
  read(GetParam().text, &error);
  EXPECT_EQ(error, GetParam().error);
}

std::string in_top(std::string const& body) {
  return "module top (input a, output y);\n" + body + "\nendmodule\n";
}

// `count` half adders h0, h1, ..., one a line, each with its two outputs.
std::string many_half_adders(int count) {
  std::string text;
  for (int h = 0; h < count; ++h) text += "  HA h" + std::to_string(h) + " ();\n";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Netlists, BadNetlistTest,
    ::testing::Values(
        BAD_NETLIST{"a pin the Liberty cell does not have", in_top("  INV u (.A(a), .Z(y));"),
                    "in.v:2:18: \"Z\" is not a pin of the Liberty cell \"INV\""},
        BAD_NETLIST{"no module but black boxes", "module top (input a);\nendmodule\n",
                    "in.v: every module of the netlist is a black box (a type of cells: marked "
                    "so, or with nothing in it but its ports), so none can be the top"},
        BAD_NETLIST{"endmodule labelled with another name",
                    "module top (input a);\nendmodule : tip\n",
                    "in.v:2:13: endmodule is labelled \"tip\", not \"top\""},
        BAD_NETLIST{"a pin connected twice", in_top("  INV u (.A(a), .A(a));"),
                    "in.v:2:18: a second connection to pin \"A\""},
        BAD_NETLIST{"more ordered connections than pins", in_top("  INV u (a, y, a);"),
                    "in.v:2:16: more connections than the Liberty cell \"INV\" has pins (2)"},
        BAD_NETLIST{"a port the module above does not have",
                    "module sub (input i);\n  wire w;\nendmodule\n" + in_top("  sub s (.o(y));"),
                    "in.v:5:11: \"o\" is not a port of module \"sub\""},
        BAD_NETLIST{"a port the module below does not have",
                    in_top("  sub s (.o(y));") + "module sub (input i);\n  wire w;\nendmodule\n",
                    "in.v:2:11: \"o\" is not a port of module \"sub\""},
        BAD_NETLIST{"more ordered connections than ports",
                    in_top("  sub s (a, y);") + "module sub (input i);\n  wire w;\nendmodule\n",
                    "in.v:2:9: 2 connections to module \"sub\", which has 1 ports"},
        BAD_NETLIST{"a second instance of one name",
                    in_top("  INV u (.A(a), .Y(y));\n  INV \\u  (.A(a), .Y(y));"),
                    "in.v:3:7: a second instance named \"u\" in module \"top\""},
        BAD_NETLIST{"a second module of one name", in_top("") + in_top(""),
                    "in.v:4:8: a second module named \"top\""},
        BAD_NETLIST{"a second declaration of a net", in_top("  wire a;\n  wire n;\n  wire n;"),
                    "in.v:4:8: a second declaration of \"n\""},
        BAD_NETLIST{"a port declared with another width",
                    "module top (a);\n  input [3:0] a;\n  wire [1:0] a;\nendmodule",
                    "in.v:3:14: \"a\" is declared again with another range"},
        BAD_NETLIST{"a port declared with other bounds",
                    "module top (a);\n  input [3:0] a;\n  wire [4:1] a;\nendmodule",
                    "in.v:3:14: \"a\" is declared again with another range"},
        BAD_NETLIST{"a port declared again with a range",
                    "module top (a);\n  input a;\n  wire [3:0] a;\nendmodule",
                    "in.v:3:14: \"a\" is declared again with another range"},
        BAD_NETLIST{"a ranged port declared again without one",
                    "module top (a);\n  input [0:3] a;\n  wire a;\nendmodule",
                    "in.v:3:8: \"a\" is declared again with another range"},
        BAD_NETLIST{"a range after the net's first use",
                    in_top("  INV u (.A(n), .Y(y));\n  wire [1:0] n;"),
                    "in.v:3:14: \"n\" gets a range after its first use"},
        BAD_NETLIST{"a port declared but not listed", in_top("  input b;"),
                    "in.v:2:9: \"b\" is not in the port list of module \"top\""},
        BAD_NETLIST{
            "a listed port never declared", "module top (a, y);\n  input a;\nendmodule",
            "in.v:1:8: port \"y\" of module \"top\" is not declared input, output or inout"},
        BAD_NETLIST{"a select of a net never declared", in_top("  INV u (.A(n[1]), .Y(y));"),
                    "in.v:2:13: no net named \"n\""},
        BAD_NETLIST{"an implicit net under `default_nettype none",
                    "`default_nettype none\n" + in_top("  INV u (.A(n), .Y(y));"),
                    "in.v:3:13: no net named \"n\""},
        BAD_NETLIST{"an operator", in_top("  assign y = ~a;"),
                    "in.v:2:14: operators are not supported in a structural netlist"},
        BAD_NETLIST{"behaviour", in_top("  always @(a) y = a;"),
                    "in.v:2:3: \"always\" is not supported in a structural netlist"},
        BAD_NETLIST{"a directive that changes the text", "`ifdef X\n" + in_top(""),
                    "in.v:1:1: \"`ifdef\" is not supported in a netlist"},
        BAD_NETLIST{"a parameter in a range", "module top (input [W:0] a);\nendmodule",
                    "in.v:1:20: a range or select needs a number, got \"W\" (parameters are not "
                    "supported)"},
        BAD_NETLIST{"a real number as a signal", in_top("  INV u (.A(1.5), .Y(y));"),
                    "in.v:2:13: a real number is no signal"},
        BAD_NETLIST{"a digit outside its base", in_top("  INV u (.A(2'b12), .Y(y));"),
                    "in.v:2:13: the digit \"2\" in \"2'b12\" is not of its base"},
        BAD_NETLIST{"a size of zero", in_top("  INV u (.A(0'b1), .Y(y));"),
                    "in.v:2:13: a number's size must be a whole number from 1, got \"0\""},
        BAD_NETLIST{"a replication without a count", in_top("  INV u (.A({n{a}}), .Y(y));"),
                    "in.v:2:15: expected \",\" or \"}\", got \"{\""},
        BAD_NETLIST{"a constant on the left of an assign", in_top("  assign 1'b0 = a;"),
                    "in.v:2:10: the left side of an assign holds a constant"},
        BAD_NETLIST{"a replication of a billion bits",
                    in_top("  INV u (.A({1000000000{a}}), .Y(y));"),
                    "in.v:2:13: nets and connections of more than 4194624 bits (the limit is "
                    "4194304 bits and 4 per byte of the netlist)"},
        BAD_NETLIST{"an array of instances", in_top("  INV u [1:0] (.A(a), .Y(y));"),
                    "in.v:2:9: arrays of instances are not supported"},
        BAD_NETLIST{"an array of nets", in_top("  wire m [0:3];"),
                    "in.v:2:10: arrays of nets are not supported"},
        BAD_NETLIST{"a gate without an input", in_top("  not (y);"),
                    "in.v:2:7: \"not\" needs an output and an input"},
        BAD_NETLIST{"a tristate gate without its control", in_top("  bufif0 (y, a);"),
                    "in.v:2:10: \"bufif0\" needs three terminals: an output, an input and a "
                    "control"},
        BAD_NETLIST{"an open gate terminal", in_top("  and (y, , a);"),
                    "in.v:2:11: a gate's terminal cannot be open"},
        BAD_NETLIST{"an empty escaped identifier", in_top("  INV \\ u (.A(a));"),
                    "in.v:2:7: an escaped identifier without a name"},
        BAD_NETLIST{"a NUL in an escaped identifier", in_top(std::string("  INV \\u\0v  ();", 15)),
                    "in.v:2:7: a name must not contain the character U+0000"},
        BAD_NETLIST{"bytes that are not UTF-8 in a name", in_top("  INV \\u\xff  ();"),
                    "in.v:2:7: the name \"u\\xff\" is not valid UTF-8"},
        BAD_NETLIST{"a comment that does not end", in_top("  /* INV u ();"),
                    "in.v:2:3: a comment that does not end"},
        BAD_NETLIST{"an attribute that does not end", in_top("  (* keep INV u ();"),
                    "in.v:2:3: an attribute that does not end"},
        BAD_NETLIST{"a specify block that does not end", in_top("  specify"),
                    "in.v:2:3: a specify block that does not end"},
        BAD_NETLIST{"a module that does not end", "module top;\n  wire a;\n",
                    "in.v:3:1: expected \"endmodule\", got the end of the file"},
        BAD_NETLIST{"text before the first module", "wire a;\n",
                    "in.v:1:1: expected \"module\", got \"wire\""},
        BAD_NETLIST{"an instantiation cycle",
                    in_top("  sub s (a, y);") + "module sub (input i, output o);\n  top t (i, o);\n"
                                                "endmodule\nmodule root;\n  top t ();\nendmodule\n",
                    "in.v:5:7: module \"top\" instantiates itself: \"top\" -> \"sub\" -> \"top\""},
        BAD_NETLIST{"cells of types nothing describes",
                    in_top("  TAP t1 ();\n  TAP t0 ();\n  FILL f ();\n  INV u (.A(a), .Y(y));"),
                    "in.v:4:8: 3 cells of 2 types have no known pins (\"FILL\", \"TAP\"); give "
                    "--liberty, or --unknown-cells atom"},
        BAD_NETLIST{"cell outputs past the name limit", in_top(many_half_adders(501)),
                    "in.v:502:6: the cells have 1002 outputs, more than --max-instances (1000)"},
        BAD_NETLIST{"cells whose types are modules that only assign",
                    in_top("  cell c ();") + "module cell (input a, output y);\n  assign y = a;\n"
                                             "endmodule\n",
                    "in.v:1:8: expanding module \"top\" makes no atom, though the netlist has 1 "
                    "cell (do its cell types' modules only assign?)"}));

TEST(VerilogReaderTest, MakesCellsOfUnknownTypesAtomsWithOneWarning) {
  std::string error;
  DESIGN_RECORDS const records =
      read(in_top("  TAP t1 (.X(a));\n  TAP t0 ();\n  INV u (.A(a), .Y(y));"), &error,
           UNKNOWN_CELLS::ATOM);
  ASSERT_EQ(error, "");
  EXPECT_EQ(atoms(records), "COMB /t0 []; COMB /t1 []; COMB /u [~y@/]");
  EXPECT_EQ(records.m_warnings,
            std::vector<std::string>{"2 cells of 1 type have no known pins (\"TAP\"); they are "
                                     "COMB atoms without oterms"});
}

// Bits selected outside a net are x, as in Yosys, and the run says where.
TEST(VerilogReaderTest, WarnsOnceOfSelectsOutsideTheirNets) {
  std::string error;
  DESIGN_RECORDS const records =
      read(in_top("  wire [3:0] w;\n  INV u (.A(w[3]), .Y(w[4]));\n  INV v (.A(w[5:2]), .Y(y));"),
           &error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(atoms(records), "COMB /u [~Y@/]; COMB /v [~y@/]");
  EXPECT_EQ(records.m_warnings,
            std::vector<std::string>{"in.v:3:24: 2 selects fall outside the net's range (the "
                                     "first here); their bits are x, connected to nothing"});
}

struct FORMAT_CASE {
  char const* text;
  INPUT_FORMAT format;
};

TEST(VerilogReaderTest, IsToldFromJsonByItsFirstToken) {
  FORMAT_CASE const cases[] = {{"module top; endmodule", INPUT_FORMAT::VERILOG},
                               {"\n\t macromodule top; endmodule", INPUT_FORMAT::VERILOG},
                               {"// netlist\nmodule top; endmodule", INPUT_FORMAT::VERILOG},
                               {"/* netlist */", INPUT_FORMAT::VERILOG},
                               {"`timescale 1ns/1ps", INPUT_FORMAT::VERILOG},
                               {"(* top *) module top; endmodule", INPUT_FORMAT::VERILOG},
                               {"modules", INPUT_FORMAT::ZEMA},
                               {"{\"modules\": {}}", INPUT_FORMAT::YOSYS},
                               {"{\"root\": {}}", INPUT_FORMAT::ZEMA},
                               {"", INPUT_FORMAT::ZEMA}};
  for (FORMAT_CASE const& c : cases) {
    INPUT_TEXT const text = INPUT_TEXT::from_bytes(c.text, "in", 1 << 20, true);
    EXPECT_EQ(detect_format(text, INPUT_FORMAT::AUTO), c.format) << c.text;
  }
  INPUT_TEXT const json = INPUT_TEXT::from_bytes("{\"root\": {}}", "in", 1 << 20);
  EXPECT_EQ(detect_format(json, INPUT_FORMAT::NETLIST), INPUT_FORMAT::YOSYS);
  EXPECT_EQ(detect_format(json, INPUT_FORMAT::VERILOG), INPUT_FORMAT::VERILOG);
}

}  // namespace
}  // namespace zema_tool
