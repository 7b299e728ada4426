// The Liberty reader: what cells, kinds and pins a file gives, how several
// files combine, and the one error line each malformed file gives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/cell_library.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// A directory of this process's own for the files the tests read, removed
// at exit (each test removes its files).
struct FILE_DIR {
  FILE_DIR() : m_path(::testing::TempDir() + "zema_liberty_" + std::to_string(::getpid())) {
    ::mkdir(m_path.c_str(), 0700);
    m_path += "/";
  }
  ~FILE_DIR() { ::rmdir(m_path.c_str()); }
  std::string m_path;
};

std::string const& file_dir() {
  static FILE_DIR const dir;
  return dir.m_path;
}

// `text` with the directory of the test files left out.
std::string without_dir(std::string text) {
  for (std::size_t at; (at = text.find(file_dir())) != std::string::npos;) {
    text.erase(at, file_dir().size());
  }
  return text;
}

// Reads `text` as the file `name` into `library`, as the command reads a
// Liberty file; the error line, or "".
std::string read_text(CELL_LIBRARY* library, std::string const& text,
                      std::string const& name = "a.lib") {
  std::string const path = file_dir() + name;
  std::ofstream(path, std::ios::binary) << text;
  std::string error;
  try {
    read_liberty(INPUT_TEXT::read(path, kDefaultMaxInput, true), library);
  } catch (TOOL_ERROR const& failure) {
    error = without_dir(failure.text());
  }
  std::remove(path.c_str());
  return error;
}

std::vector<std::string> files(CELL_LIBRARY const& library) {
  std::vector<std::string> names;
  for (std::string const& path : library.files()) names.push_back(without_dir(path));
  return names;
}

std::string lib(std::string const& body) { return "library (test) {\n" + body + "}\n"; }

char const* kind_name(int atom_type) {
  switch (atom_type) {
    case CDB_ATOM_DFF:
      return "dff";
    case CDB_ATOM_LATCH:
      return "latch";
    case CDB_ATOM_RAM:
      return "ram";
    default:
      return atom_type == CDB_ATOM_COMB ? "comb" : "?";
  }
}

// "CELL KIND (PIN DIR, BUS[WIDTH] DIR); ..." for every cell, in order.
std::string summary(CELL_LIBRARY const& library) {
  static char const* const kDirections[] = {"in", "out", "inout", "internal"};
  std::string text;
  for (CELL_TYPE const& type : library.types()) {
    if (!text.empty()) text += "; ";
    text.append(type.m_name).append(" ").append(kind_name(type.m_atom_type)).append(" (");
    for (CELL_PIN const* pin = library.pins_begin(type); pin != library.pins_end(type); ++pin) {
      if (pin != library.pins_begin(type)) text += ", ";
      text.append(pin->m_name);
      if (pin->m_width != 1) text += "[" + std::to_string(pin->m_width) + "]";
      text.append(" ").append(kDirections[static_cast<int>(pin->m_direction)]);
    }
    text += ")";
    EXPECT_EQ(library.find(type.m_name), &type) << type.m_name;
  }
  return text;
}

struct GOOD_CASE {
  char const* what;
  std::string text;
  char const* cells;
};

void PrintTo(GOOD_CASE const& c, std::ostream* out) { *out << c.what; }

class LibertyCellsTest : public ::testing::TestWithParam<GOOD_CASE> {};

TEST_P(LibertyCellsTest, GivesTheCellsKindsAndPins) {
  CELL_LIBRARY library;
  ASSERT_EQ(read_text(&library, GetParam().text), "");
  EXPECT_EQ(summary(library), GetParam().cells);
}

// `count` pins p0, p1, ... of one group each, outputs every third.
std::string many_pins(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text +=
        "pin (p" + std::to_string(i) + ") { direction : " + (i % 3 ? "input" : "output") + "; }\n";
  }
  return text;
}

// `depth` groups nested inside a library.
std::string nested(std::size_t depth) {
  std::string text = "library (deep) {\n";
  for (std::size_t i = 0; i < depth; ++i) text += "g () {\n";
  for (std::size_t i = 0; i < depth; ++i) text += "}\n";
  return text + "}\n";
}

std::string const kBusTypes =
    "type (bus4) { base_type : array ; data_type : bit ; bit_width : 4 ; bit_from : 3 ; "
    "bit_to : 0 ; }\n"
    "type (\"span\") { bit_from : 2 ; bit_to : 9 ; }\n";

INSTANTIATE_TEST_SUITE_P(
    Files, LibertyCellsTest,
    ::testing::Values(
        GOOD_CASE{
            "a kind for each storage group",
            lib("cell (C) { pin (A) { direction : input; } pin (Y) { direction : output; } }\n"
                "cell (F) { ff (IQ, IQN) { next_state : \"D\"; clocked_on : \"CK\"; } }\n"
                "cell (FB) { ff_bank (IQ, IQN, 4) { } }\n"
                "cell (L) { latch (IQ, IQN) { enable : \"G\"; } }\n"
                "cell (LB) { latch_bank (IQ, IQN, 2) { } }\n"
                "cell (M) { memory () { type : ram; address_width : 4; } }\n"
                "cell (MF) { ff (a, b) { } memory () { } latch (c, d) { } }\n"
                "cell (FL) { latch (c, d) { } ff (a, b) { } }\n"),
            "C comb (A in, Y out); F dff (); FB dff (); L latch (); LB latch (); M ram (); "
            "MF ram (); FL dff ()"},
        GOOD_CASE{"scan flops: test_cell counts for nothing; power pins are inputs, last",
                  lib("cell (SDFF) { pg_pin (VDD) { pg_type : primary_power; }\n"
                      "  pin (D) { direction : input; } pin (SI) { direction : input; }\n"
                      "  test_cell () { pin (D) { direction : input; } ff (a, b) { }\n"
                      "    pin (Q) { direction : output; signal_type : test_scan_out; } }\n"
                      "  pg_pin (VVDD) { direction : output; pg_type : internal_power; }\n"
                      "  pin (Q) { direction : output; } }\n"
                      "cell (ICG) { latch (a, b) { } test_cell () { ff (x, y) { } } }\n"),
                  "SDFF comb (D in, SI in, Q out, VDD in, VVDD in); ICG latch ()"},
        GOOD_CASE{"every direction, and none",
                  lib("cell (X) { pin (A) { } pin (B) { direction : inout; }\n"
                      "  pin (C) { direction : internal; } pin (D, E) { direction : output; } }\n"),
                  "X comb (A in, B inout, C internal, D out, E out)"},
        GOOD_CASE{"bus widths from types of the library and the cell, in any order",
                  lib(kBusTypes +
                      "cell (R) { bus (D) { bus_type : bus4; direction : input;\n"
                      "    pin (D[3:0]) { capacitance : 1; } pin (D[1]) { direction : output; } }\n"
                      "  bus (S) { bus_type : \"span\"; direction : output; }\n"
                      "  bus (W) { bus_type : w16; } bus (V) { bus_type : late; }\n"
                      "  type (w16) { bit_width : 16; } }\n"
                      "cell (R2) { bus (E) { bus_type : bus4; } type (bus4) { bit_width : 2; } }\n"
                      "type (late) { bit_width : 3; }\n"),
                  "R comb (D[4] in, S[8] out, W[16] in, V[3] in); R2 comb (E[2] in)"},
        GOOD_CASE{
            "bus and bundle directions from their member pins",
            lib(kBusTypes +
                "cell (B) { bus (Q) { bus_type : bus4;\n"
                "    pin (Q[0]) { direction : output; } pin (Q[1]) { direction : output; } }\n"
                "  bundle (P) { members (P0, P1, P2); direction : output;\n"
                "    pin (P0) { direction : input; } }\n"
                "  bundle (M) { members (M0, M1);\n"
                "    pin (M0) { direction : input; } pin (M1) { direction : output; } }\n"
                "  bundle (N) { members (N0); pin (N0) { direction : internal; } }\n"
                "  bundle (O) { members (O0, O1); } }\n"),
            "B comb (Q[4] out, P[3] out, M[2] inout, N internal, O[2] in)"},
        GOOD_CASE{"quoted and unquoted names, escapes and line continuations",
                  lib("cell ( \"DFF_X1\" ) { pin(A) { } pin(\"B\") { }\n"
                      "  pin ( \"a\\\"b\\\\c\" ) { } pin (\"x\\q\") { } pin (\"lo\\\nng\") { } }\n"
                      "cell\n(\n  'odd'\n)\n{ }\n"),
                  "DFF_X1 comb (A in, B in, a\"b\\c in, x\\q in, long in); 'odd' comb ()"},
        GOOD_CASE{
            "comments, continuations, missing semicolons and everything skipped",
            "\xef\xbb\xbf/* header */ library (lib1) { // line comment\r\n"
            "  technology (cmos) ; delay_model : table_lookup\r\n"
            "  define (def_sim_opt, library, string);\n"
            "  capacitive_load_unit (1,ff)\n"
            "  input_voltage (cmos) { vil : 0.3 * VDD ; vih : 0.7*VDD }\n"
            "  lu_table_template (t2) { variable_1 : input_net_transition;\n"
            "    index_1 (\"1, 2\"); }\n"
            "  operating_conditions (typ) { process : 1; voltage : 1.1; }\n"
            "  cell (INV) { area : 1.0 /* a\n multi-line comment */ pin (A) {\n"
            "      direction : \\\n input } pin (Y) { direction : output; function : \"!A\";\n"
            "      timing () { related_pin : \"A\";\n"
            "        cell_rise (t2) { values (\"0.1, 0.2\", \\\n"
            "                                 \"0.3, 0.4\"); } } } };\n"
            "};\n",
            "INV comb (A in, Y out)"},
        GOOD_CASE{"an identical cell again, and a second library in the file",
                  lib("cell (A) { pin (X) { } }\ncell (A) { pin (X) { direction : input; } }\n") +
                      lib("cell (B) { ff (a, b) { } } cell (A) { pin (X) { } }\n"),
                  "A comb (X in); B dff ()"},
        GOOD_CASE{"a library without cells", "library (empty) { }", ""},
        GOOD_CASE{"the deepest nesting", nested(255), ""},
        GOOD_CASE{"many pins in one cell", lib("cell (wide) {\n" + many_pins(12) + "}\n"),
                  "wide comb (p0 out, p1 in, p2 in, p3 out, p4 in, p5 in, p6 out, p7 in, p8 in, "
                  "p9 out, p10 in, p11 in)"}));

struct BAD_CASE {
  char const* what;
  std::string text;
  char const* error;
};

void PrintTo(BAD_CASE const& c, std::ostream* out) { *out << c.what; }

class LibertyErrorTest : public ::testing::TestWithParam<BAD_CASE> {};

TEST_P(LibertyErrorTest, GivesOneErrorLineAndKeepsNothing) {
  CELL_LIBRARY library;
  EXPECT_EQ(read_text(&library, GetParam().text), GetParam().error);
  EXPECT_TRUE(library.empty());
  EXPECT_TRUE(library.pins().empty());
  EXPECT_TRUE(library.files().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, LibertyErrorTest,
    ::testing::Values(
        BAD_CASE{"an empty file", "", "a.lib:1:1: the file holds no library group"},
        BAD_CASE{"only a comment", "/* nothing */\n", "a.lib:2:1: the file holds no library group"},
        BAD_CASE{"an attribute at the top", "date : today ;\nlibrary (x) { }\n",
                 "a.lib:1:1: expected a library group, got \"date\""},
        BAD_CASE{"a string at the top", "\"library\" (x) { }",
                 "a.lib:1:1: expected a library group, got the string \"library\""},
        BAD_CASE{"a library without a body", "library (x) ;\n",
                 "a.lib:1:13: expected \"{\" after the arguments of \"library\", got \";\""},
        BAD_CASE{"a stray closing brace", "library (x) { }\n}\n",
                 "a.lib:2:1: \"}\" closes no group"},
        BAD_CASE{"the end of the file inside a group",
                 "library (x) {\n  cell (A) {\n    pin (B) {\n",
                 "a.lib:4:1: the file ends inside the \"pin\" group opened at line 3; a \"}\" is "
                 "missing"},
        BAD_CASE{"an unterminated string", "library (x) {\n  comment : \"abc\\\" ;\n}\n",
                 "a.lib:2:13: the string that starts here has no closing quote"},
        BAD_CASE{"an unterminated comment", "library (x) {\n /* no end *\n}",
                 "a.lib:2:2: the comment that starts here has no closing \"*/\""},
        BAD_CASE{"a missing closing parenthesis", "library (x) {\n  cell (A {\n",
                 "a.lib:2:11: expected \",\" or \")\" in the arguments of \"cell\", got \"{\""},
        BAD_CASE{"a doubled comma", "library (x) { values (\"1\",, \"2\"); }",
                 "a.lib:1:27: expected a value in the arguments of \"values\", got \",\""},
        BAD_CASE{"a stray parenthesis", "library (x) {\n  ) }",
                 "a.lib:2:3: expected an attribute or a group, got \")\""},
        BAD_CASE{"a word without colon or arguments", "library (x) { area 1 ; }",
                 "a.lib:1:20: expected \":\" or \"(\" after \"area\", got \"1\""},
        BAD_CASE{"two attributes on a line without a semicolon", "library (x) { a : 1 b : 2 ; }",
                 "a.lib:1:23: expected \";\" after the value of \"a\", got \":\""},
        BAD_CASE{"an attribute without a value", "library (x) { a : ; }",
                 "a.lib:1:19: expected a value after \"a :\", got \";\""},
        BAD_CASE{"junk after a complex attribute", "library (x) { a (1) b ; }",
                 "a.lib:1:21: expected \";\" or \"{\" after the arguments of \"a\", got \"b\""},
        BAD_CASE{"a control byte", std::string("library (x) {\n \x01 }"),
                 "a.lib:2:2: the byte 0x01 is not allowed outside a string"},
        BAD_CASE{"groups nested too deep", nested(256),
                 "a.lib:257:1: groups nest deeper than 256 levels"},
        BAD_CASE{"a cell of two names", lib("cell (A, B) { }"),
                 "a.lib:2:1: a \"cell\" group takes one name, got 2"},
        BAD_CASE{"a pin without a name", lib("cell (A) { pin () { } }"),
                 "a.lib:2:12: a \"pin\" group needs a name"},
        BAD_CASE{"an empty pin name", lib("cell (A) { pin (\"\") { } }"),
                 "a.lib:2:17: a pin name must not be empty"},
        BAD_CASE{"a NUL in a cell name", lib(std::string("cell (\"a\0b\") { }", 16)),
                 "a.lib:2:7: a name must not contain the character U+0000"},
        BAD_CASE{
            "an unknown direction", lib("cell (A) { pin (B) { direction : in; } }"),
            "a.lib:2:34: unknown direction \"in\" (expected input, output, inout or internal)"},
        BAD_CASE{"two directions", lib("cell (A) { pin (B) { direction : input output; } }"),
                 "a.lib:2:34: \"direction\" takes one value, got 2"},
        BAD_CASE{"a pin twice",
                 lib("cell (A) { pin (B) { }\n  bus (C) { bus_type : t; }\n"
                     "  pin (C) { } pin (B) { } type (t) { bit_width : 2; } }"),
                 "a.lib:4:8: cell \"A\" has a second pin named \"C\""},
        BAD_CASE{"a pin twice in a big cell",
                 lib("cell (wide) {\n" + many_pins(20) + "pin (p7) { } }"),
                 "a.lib:23:6: cell \"wide\" has a second pin named \"p7\""},
        BAD_CASE{"a bus without a type", lib("cell (A) { bus (D) { direction : input; } }"),
                 "a.lib:2:17: bus \"D\" has no bus_type"},
        BAD_CASE{"a bus of an unknown type", lib("cell (A) { bus (D) { bus_type : b9; } }"),
                 "a.lib:2:33: bus_type \"b9\" names no type group of its cell or library"},
        BAD_CASE{"a type of another cell",
                 lib("cell (A) { type (t) { bit_width : 2; } }\n"
                     "cell (B) { bus (D) { bus_type : t; } }"),
                 "a.lib:3:33: bus_type \"t\" names no type group of its cell or library"},
        BAD_CASE{"a type without a width", lib("type (t) { bit_from : 1; }"),
                 "a.lib:2:7: type \"t\" gives no width: no bit_width, nor bit_from and bit_to"},
        BAD_CASE{"a width of zero", lib("type (t) { bit_width : 0; }"),
                 "a.lib:2:24: bit_width must be a whole number from 1 to 1048576, got \"0\""},
        BAD_CASE{"a bit that is no number", lib("type (t) { bit_from : -1; }"),
                 "a.lib:2:23: bit_from must be a whole number from 0 to 4294967295, got \"-1\""},
        BAD_CASE{"a type too wide", lib("type (t) { bit_from : 0; bit_to : 2000000; }"),
                 "a.lib:2:7: type \"t\" is wider than 1048576 bits"},
        BAD_CASE{"a bundle without members", lib("cell (A) { bundle (B) { direction : input; } }"),
                 "a.lib:2:20: bundle \"B\" has no members"},
        BAD_CASE{"a cell defined twice, differently",
                 lib("cell (A) { pin (X) { } }\ncell (A) { pin (X) { direction : output; } }"),
                 "a.lib:3:7: cell \"A\" is defined differently earlier in this file: pin 1 is "
                 "\"X\" (output) here, \"X\" (input) there"},
        BAD_CASE{"a good library before a bad one", lib("cell (A) { }") + "library (y) { ",
                 "a.lib:3:15: the file ends inside the \"library\" group opened at line 3; a \"}\" "
                 "is missing"}));

// Two files that both define DFF_X1 and INV_X1; the second's DFF_X1 as given.
std::string const kFirst =
    lib("cell (DFF_X1) { ff (IQ, IQN) { } pin (D) { direction : input; }\n"
        "  pin (CK) { direction : input; } pin (Q) { direction : output; } }\n"
        "cell (INV_X1) { pin (A) { direction : input; } pin (ZN) { direction : output; } }\n");

std::string second(std::string const& dff) {
  return lib(
      "cell (BUF_X1) { pin (A) { } pin (Z) { direction : output; } }\n"
      "cell (INV_X1) { pin (A) { direction : input; } pin (ZN) { direction : output; } }\n"
      "cell (DFF_X1) {" +
      dff + "}\n");
}

TEST(LibertyFilesTest, TakesAnIdenticalCellOnceFromTheFirstFile) {
  CELL_LIBRARY library;
  ASSERT_EQ(read_text(&library, kFirst, "a.lib"), "");
  ASSERT_EQ(read_text(&library,
                      second("ff (IQ, IQN) { } pin (D) { direction : input; }\n"
                             "pin (CK) { direction : input; }\n"
                             "pin (Q) { direction : output; }"),
                      "b.lib"),
            "");
  ASSERT_EQ(read_text(&library, kFirst, "a.lib"), "");  // the same file again
  EXPECT_EQ(summary(library),
            "DFF_X1 dff (D in, CK in, Q out); INV_X1 comb (A in, ZN out); "
            "BUF_X1 comb (A in, Z out)");
  EXPECT_EQ(files(library), (std::vector<std::string>{"a.lib", "b.lib", "a.lib"}));
  EXPECT_EQ(library.find("DFF_X1")->m_file, 0u);
  EXPECT_EQ(library.find("BUF_X1")->m_file, 1u);
  EXPECT_EQ(library.find("NAND2_X1"), nullptr);
}

TEST(LibertyFilesTest, RefusesADifferentCellNamingBothFilesAndKeepsTheFirst) {
  struct CONFLICT {
    char const* dff;
    char const* error;
  };
  std::string const place = "b.lib:4:7: cell \"DFF_X1\" is defined differently in a.lib: ";
  for (CONFLICT const& c : {
           CONFLICT{"latch (IQ, IQN) { } pin (D) { } pin (CK) { } pin (Q) { direction : output; }",
                    "it is a latch here, a flip-flop there"},
           CONFLICT{"ff (IQ, IQN) { } pin (D) { } pin (CK) { } pin (Q) { direction : inout; }",
                    "pin 3 is \"Q\" (inout) here, \"Q\" (output) there"},
           CONFLICT{"ff (IQ, IQN) { } pin (D) { } pin (Q) { direction : output; } pin (CK) { }",
                    "pin 2 is \"Q\" (output) here, \"CK\" (input) there"},
           CONFLICT{"ff (IQ, IQN) { } bundle (D) { members (a, b); } pin (CK) { }"
                    "pin (Q) { direction : output; }",
                    "pin 1 is \"D\" (input, 2 bits) here, \"D\" (input) there"},
           CONFLICT{"ff (IQ, IQN) { } pin (D) { } pin (CK) { }", "it has 2 pins here, 3 there"},
       }) {
    CELL_LIBRARY library;
    ASSERT_EQ(read_text(&library, kFirst, "a.lib"), "");
    std::string const before = summary(library);
    EXPECT_EQ(read_text(&library, second(c.dff), "b.lib"), place + c.error);
    // The refused file left nothing behind, not even its new cell BUF_X1.
    EXPECT_EQ(summary(library), before);
    EXPECT_EQ(library.find("BUF_X1"), nullptr);
    EXPECT_EQ(files(library), std::vector<std::string>{"a.lib"});
    EXPECT_EQ(library.pins().size(), 5u);
  }
}

}  // namespace
}  // namespace zema_tool
