// The readers from bytes to records: what a design file or a Yosys netlist
// becomes, compressed or not, and the one error line each bad input gives.
#include "tools/input/read_design.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tests/tool/unit/compressed.h"
#include "tools/input/yosys_reader.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// The records of `bytes`, or the error line in *error.
DESIGN_RECORDS read(std::string const& bytes, std::string* error,
                    std::uint64_t max_size = kDefaultMaxInput) {
  DESIGN_RECORDS records;
  error->clear();
  try {
    INPUT_TEXT const text = INPUT_TEXT::from_bytes(bytes, "in.json", max_size);
    READ_OPTIONS options;
    options.m_max_instances = 1000;
    read_records(text, options, &records);
  } catch (TOOL_ERROR const& failure) {
    *error = failure.text();
  }
  return records;
}

std::string const kDesign =
    R"({"root": {"name": "", "children": [{"name": "a", "id": 7}]},
        "netlist": [{"type": "COMB", "name": 7}]})";

std::string const kNetlist = R"({"creator": "Yosys", "modules": {
  "leaf": {"cells": {"g": {"type": "$_NOT_", "port_directions": {"A": "input", "Y": "output"},
                           "connections": {"A": [2], "Y": [3]}}}},
  "top": {"attributes": {"top": "00000000000000000000000000000001"},
          "cells": {"u[0].l": {"type": "leaf"}, "u[1].l": {"type": "leaf"}}}}})";

TEST(DesignReaderTest, ReadsEveryCompressionOfADesignFileAlike) {
  for (std::string const& bytes :
       {kDesign, xz(kDesign), gzip(kDesign), gzip(kDesign) + gzip(" ")}) {
    std::string error;
    DESIGN_RECORDS const records = read(bytes, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(records.m_names.size(), 2u);
    EXPECT_STREQ(records.text_of(1), "a");
    EXPECT_EQ(records.m_names[0].m_id, 8u);  // assigned after the largest id written
    ASSERT_EQ(records.m_atoms.size(), 1u);
    EXPECT_EQ(records.m_atoms[0].m_name.m_value, 1u);
  }
}

// Most texts are taken from the input as they stand; one with an escape is
// unescaped. Either way a key, a name and a type name read as their text.
TEST(DesignReaderTest, ReadsEscapedAndPlainTextsAlike) {
  std::string error;
  DESIGN_RECORDS const records = read(
      R"({"r\u006fot": {"n\u0061me": "", "children": [{"name": "a\\b\"c", "id": 7},
                                              {"name": "d\u00e9", "id": 9}]},
          "netlist": [{"t\u0079pe": "CO\u004dB", "name": 7}, {"type": "COMB", "name": 9}]})",
      &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(records.m_names.size(), 3u);
  EXPECT_STREQ(records.text_of(1), "a\\b\"c");
  EXPECT_STREQ(records.text_of(2), "d\xc3\xa9");
  ASSERT_EQ(records.m_atoms.size(), 2u);
  EXPECT_EQ(records.m_atoms[0].m_type, records.m_atoms[1].m_type);
}

TEST(DesignReaderTest, ExpandsAYosysModuleOncePerInstance) {
  std::string error;
  DESIGN_RECORDS const records = read(xz(kNetlist), &error);
  ASSERT_EQ(error, "");
  // root, then per instance: u[i].l, its cell g, g's port Y and g's own name.
  std::vector<std::string> names;
  for (std::uint32_t r = 0; r < records.m_names.size(); ++r) names.push_back(records.text_of(r));
  EXPECT_EQ(names,
            (std::vector<std::string>{"", "u[0].l", "g", "Y", "g", "u[1].l", "g", "Y", "g"}));
  for (std::uint32_t r = 0; r < records.m_names.size(); ++r) {
    EXPECT_EQ(records.m_names[r].m_id, r + 1);
  }
  ASSERT_EQ(records.m_atoms.size(), 2u);
  EXPECT_EQ(records.m_atoms[1].m_type, CDB_ATOM_INV);
  EXPECT_EQ(records.m_oterms[1].m_value, 7u);  // the second instance's Y
}

// The names of `records` in record order.
std::vector<std::string> names_of(DESIGN_RECORDS const& records) {
  std::vector<std::string> names;
  for (std::uint32_t r = 0; r < records.m_names.size(); ++r) names.push_back(records.text_of(r));
  return names;
}

// A black box is a type of cells: its ports give every cell of it its
// outputs, in its own order, whichever the cell connects; it is never a
// level of the hierarchy, nor a candidate for the top. So is a white box,
// whose cells model the type's function. A $scopeinfo cell is no cell.
TEST(DesignReaderTest, TakesABlackOrWhiteBoxModuleForACellType) {
  std::string error;
  DESIGN_RECORDS const records = read(R"({"modules": {
    "top": {"cells": {"u": {"type": "BB", "port_directions": {"Y": "output"},
                            "connections": {"Y": [2]}},
                      "s": {"type": "$scopeinfo", "port_directions": {}, "connections": {}},
                      "w": {"type": "WB", "connections": {"Y": [4]}}},
            "netnames": {"n": {"bits": [2]}, "m": {"bits": [4]}}},
    "BB": {"attributes": {"blackbox": "00000000000000000000000000000001"},
           "ports": {"Z": {"direction": "output", "bits": [2]}, "A": {"direction": "input"},
                     "Y": {"direction": "output", "bits": [3]}}},
    "WB": {"attributes": {"whitebox": "00000000000000000000000000000001"},
           "ports": {"A": {"direction": "input", "bits": [2]},
                     "Y": {"direction": "output", "bits": [3]}},
           "cells": {"g": {"type": "$_NOT_", "port_directions": {"A": "input", "Y": "output"},
                           "connections": {"A": [2], "Y": [3]}}}},
    "UNUSED": {"attributes": {"blackbox": 1}, "ports": {}}}})",
                                      &error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(names_of(records), (std::vector<std::string>{"", "u", "Z", "n", "w", "m"}));
  ASSERT_EQ(records.m_atoms.size(), 2u);
  EXPECT_EQ(records.m_atoms[0].m_type, CDB_ATOM_COMB);
  EXPECT_EQ(records.m_atoms[1].m_type, CDB_ATOM_COMB);
}

// Wide cells match connections to directions by a search, not a scan: the
// outputs keep port_directions' order, and the last connection of a port
// given twice is its bits, as for narrow cells.
TEST(DesignReaderTest, PairsTheOutputsOfAWideCellAsOfANarrowOne) {
  std::string directions;
  std::string connections;
  for (int p = 11; p >= 0; --p) {
    std::string const port = "\"P" + std::to_string(p) + "\"";
    directions += (p != 11 ? ", " : "") + port + (p % 4 == 0 ? ": \"output\"" : ": \"input\"");
    connections += (p != 11 ? ", " : "") + port + ": [" + std::to_string(20 + p) + "]";
  }
  connections += ", \"P4\": [40]";
  std::string error;
  DESIGN_RECORDS const records = read(
      R"({"modules": {"top": {"cells": {"w": {"type": "$wide", "port_directions": {)" + directions +
          R"(}, "connections": {)" + connections +
          R"(}}}, "netnames": {"a": {"bits": [20]}, "b": {"bits": [40]}, "c": {"bits": [28]}}}}})",
      &error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(names_of(records), (std::vector<std::string>{"", "w", "c", "b", "a"}));
}

// A cell of a --liberty type takes its atom type and its output pins, in
// the library's order, also without port_directions.
TEST(DesignReaderTest, GivesCellsOfALibraryItsTypesAndPins) {
  DESIGN_RECORDS records;
  CELL_LIBRARY library;
  read_liberty(
      INPUT_TEXT::from_bytes("library (l) { cell (DFF) { ff (IQ, IQN) { }\n"
                             "  pin (QN) { direction : output ; } pin (D) { direction : input ; }\n"
                             "  pin (Q) { direction : output ; } } }",
                             "l.lib", 1 << 20, true),
      &library);
  read_yosys_netlist(INPUT_TEXT::from_bytes(
                         R"({"modules": {"top": {"cells": {"r": {"type": "DFF",
                             "connections": {"Q": [2], "D": [3]}}}}}})",
                         "in.json", 1 << 20),
                     READ_OPTIONS(), &library, &records);
  EXPECT_EQ(names_of(records), (std::vector<std::string>{"", "r", "QN", "Q", "r"}));
  ASSERT_EQ(records.m_atoms.size(), 1u);
  EXPECT_EQ(records.m_atoms[0].m_type, CDB_ATOM_DFF);
  std::string error;
  try {
    read_yosys_netlist(INPUT_TEXT::from_bytes(
                           R"({"modules": {"top": {"cells": {"r": {"type": "DFF",
                               "connections": {"CK": [2]}}}}}})",
                           "in.json", 1 << 20),
                       READ_OPTIONS(), &library, &records);
  } catch (TOOL_ERROR const& failure) {
    error = failure.text();
  }
  EXPECT_EQ(error,
            "modules.top.cells.r.connections.CK: \"CK\" is not a pin of the Liberty cell \"DFF\"");
}

// `count` cells of type `type`, as the body of a "cells" object.
std::string cells(int count, char const* type) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += (i != 0 ? ", \"c" : "\"c") + std::to_string(i) + "\": {\"type\": \"" + type + "\"}";
  }
  return text;
}

// A Yosys netlist whose top module holds `cells` and starts with `before`.
std::string yosys_top(std::string const& cells, std::string const& before = "") {
  return R"({"modules": {"top": {)" + before + R"("cells": {)" + cells + "}}}}";
}

// Modules m0 to m{levels - 1}, each holding two instances of the next, and a
// gate in the last.
std::string doubling_modules(int levels, std::string const& prefix = "") {
  std::string text = R"({"modules": {)";
  for (int m = 0; m + 1 < levels; ++m) {
    std::string const next = "m" + std::to_string(m + 1);
    text.append("\"m").append(std::to_string(m)).append(R"(": {"cells": {")");
    text.append(prefix).append(R"(a": {"type": ")").append(next).append(R"("}, ")");
    text.append(prefix).append(R"(b": {"type": ")").append(next).append("\"}}}, ");
  }
  return text + "\"m" + std::to_string(levels - 1) + R"(": {"cells": {"g": {"type": "$_NOT_"}}}}})";
}

// Modules m0 to m{count - 1}, each instantiating the next, and the last m0.
std::string module_cycle(int count) {
  std::string text = R"({"modules": {)";
  for (int m = 0; m < count; ++m) {
    text += (m != 0 ? ", \"m" : "\"m") + std::to_string(m) + R"(": {"cells": {"c": {"type": "m)" +
            std::to_string((m + 1) % count) + "\"}}}";
  }
  return text + R"(, "x": {"cells": {"c": {"type": "m0"}}}}})";
}

// `count` atoms of a design file's netlist.
std::string atoms(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += i != 0 ? ", {\"type\": 0}" : "{\"type\": 0}";
  return text;
}

struct BAD_INPUT {
  char const* what;
  std::string bytes;
  char const* error;
};

// Lifting the limits does not lift what the records can hold: an expansion
// past that is refused before anything is expanded.
TEST(DesignReaderTest, RefusesAnExpansionPastWhatTheRecordsHold) {
  BAD_INPUT const inputs[] = {
      {"2^70 names", doubling_modules(70),
       "in.json: modules.m0: expanding the hierarchy makes more than 2147483647 instance names"},
      // 4M instances whose unit names take 3 KB each: 12 GB, past 32-bit offsets.
      {"12 GB of unit names", doubling_modules(22, std::string(3000, 'n')),
       "in.json: modules.m0: expanding the hierarchy makes more than 4294967295 bytes of unit "
       "names"},
  };
  for (BAD_INPUT const& input : inputs) {
    SCOPED_TRACE(input.what);
    READ_OPTIONS options;
    options.m_max_instances = UINT64_MAX;
    options.m_max_name_bytes = UINT64_MAX;
    DESIGN_RECORDS records;
    try {
      read_records(INPUT_TEXT::from_bytes(input.bytes, "in.json", kDefaultMaxInput), options,
                   &records);
      ADD_FAILURE() << "accepted";
    } catch (TOOL_ERROR const& failure) {
      EXPECT_EQ(failure.text(), input.error);
    }
  }
}

void PrintTo(BAD_INPUT const& input, std::ostream* out) { *out << input.what; }

class BadInputTest : public ::testing::TestWithParam<BAD_INPUT> {};

TEST_P(BadInputTest, GivesOneErrorLineWithItsPlace) {
  std::string error;
  read(GetParam().bytes, &error, 65536);
  EXPECT_EQ(error, GetParam().error);
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInputTest,
    ::testing::Values(
        BAD_INPUT{
            "a NUL and a line end in a key", std::string("{\"root\": {\"\\u0000\\n\": 1}}"),
            "in.json: root.\"\\u0000\\u000a\": unknown key \"\\u0000\\u000a\" (expected \"name\", "
            "\"id\" or \"children\")"},
        BAD_INPUT{"an unclosed bracket after the document", "{\"root\": {\"name\": \"\"}}\n  [",
                  "in.json:2:3: malformed JSON: unexpected content after the top-level value"},
        // Faults the parser finds before it walks the document, placed all the same.
        BAD_INPUT{"a string left open", "{\"root\": {\"name\": \"x, \"id\": 1}}",
                  "in.json:1:26: malformed JSON: A string is opened, but never closed."},
        BAD_INPUT{"a byte that is not UTF-8", "{\"root\":\n {\"name\": \"a\xff\"}}",
                  "in.json:2:13: malformed JSON: The input is not valid UTF-8"},
        BAD_INPUT{"a tab inside a string", "{\"root\": {\"name\": \"\\\"\t\"}}",
                  "in.json:1:22: malformed JSON: Within strings, some characters must be escaped, "
                  "we found unescaped characters"},
        BAD_INPUT{"bytes that cannot start JSON", std::string("\0\0\0\0\0\0\0", 7),
                  "in.json:1:1: malformed JSON: expected a JSON value, got the byte 0x00"},
        BAD_INPUT{"an input past the size limit",
                  "{\"root\": {\"name\": \"" + std::string(70000, 'x') + "\"}}",
                  "in.json: the input is larger than 65536 bytes (see --max-input-size)"},
        BAD_INPUT{"a decompression bomb", xz(std::string(1 << 20, ' ')),
                  "in.json: the input is larger than 65536 bytes (see --max-input-size)"},
        BAD_INPUT{"cut xz data", xz(kDesign).substr(0, 30),
                  "in.json: broken xz data: the data ends early"},
        BAD_INPUT{"gzip data with trailing bytes", gzip(kDesign) + "junk",
                  "in.json: broken gzip data: unexpected bytes after the end of the data"},
        BAD_INPUT{"a cell port of no direction Yosys writes",
                  yosys_top(R"("u": {"type": "BB", "port_directions": {"Y": "Output"}})"),
                  "in.json: modules.top.cells.u.port_directions.Y: unknown direction \"Output\" "
                  "(expected \"input\", \"output\" or \"inout\")"},
        BAD_INPUT{"a module port of no direction Yosys writes",
                  R"({"modules": {"top": {"ports": {"y": {"direction": "out", "bits": [2]}}}}})",
                  "in.json: modules.top.ports.y.direction: unknown direction \"out\" "
                  "(expected \"input\", \"output\" or \"inout\")"},
        BAD_INPUT{
            "neither format", "{\"nodes\": []}",
            "in.json: nodes: unknown key \"nodes\": neither a design file (\"root\", \"names\", "
            "\"netlist\") nor a Yosys netlist (\"modules\")"},
        BAD_INPUT{
            "a module without end",
            R"({"modules": {"a": {"attributes": {"top": 1}, "cells": {"x": {"type": "a"}}}}})",
            "in.json: modules.a.cells.x: module \"a\" instantiates itself: \"a\" -> \"a\""},
        // 4 instances of m, each of 10 instances of n, each of 30 gates.
        BAD_INPUT{
            "an expansion past the name limit",
            "{\"modules\": {\"t\": {\"cells\": {" + cells(4, "m") + "}}, \"m\": {\"cells\": {" +
                cells(10, "n") + "}}, \"n\": {\"cells\": {" + cells(30, "$_NAND_") + "}}}}",
            "in.json: modules.t: expanding the hierarchy makes 1245 instance names, more than "
            "--max-instances (1000)"},
        // Each level instantiates the next twice: 2^60 names from a few lines.
        BAD_INPUT{"a hierarchy bomb", doubling_modules(60),
                  "in.json: modules.m0: expanding the hierarchy makes 1729382256910270463 instance "
                  "names, "
                  "more than --max-instances (1000)"},
        BAD_INPUT{"a hierarchy bomb past 64 bits", doubling_modules(70),
                  "in.json: modules.m0: expanding the hierarchy makes 18446744073709551615 or more "
                  "instance names, more than --max-instances (1000)"},
        BAD_INPUT{"a design file past the limit",
                  "{\"root\": {\"name\": \"\"}, \"netlist\": [" + atoms(1001) + "]}",
                  "in.json: the design has 1001 atoms, more than --max-instances (1000)"},
        BAD_INPUT{
            "a long instantiation cycle", module_cycle(50),
            "in.json: modules.m49.cells.c: module \"m0\" instantiates itself: \"m0\" -> \"m1\" -> "
            "\"m2\" -> \"m3\" -> (44 more modules) -> \"m48\" -> \"m49\" -> \"m0\""},
        // Names are never cut short at a NUL, in a key or in a value.
        BAD_INPUT{"a NUL in a cell's name", yosys_top(R"("u\u0000x": {"type": "$_NOT_"})"),
                  "in.json: modules.top.cells.\"u\\u0000x\": a name must not contain the character "
                  "U+0000"},
        BAD_INPUT{
            "a NUL in a port's name",
            yosys_top(R"("u": {"type": "$_DFF_P_", "port_directions": {"Q\u0000": "output"}})"),
            "in.json: modules.top.cells.u.port_directions.\"Q\\u0000\": a name must not contain "
            "the character U+0000"},
        BAD_INPUT{
            "a NUL in a connection's port",
            yosys_top(R"("u": {"type": "x", "connections": {"Y\u0000": [2]}})"),
            "in.json: modules.top.cells.u.connections.\"Y\\u0000\": a name must not contain the "
            "character U+0000"},
        BAD_INPUT{
            "a NUL in a net's name",
            yosys_top(R"("u": {"type": "x", "connections": {"Y": [2]}}}, )"
                      R"("netnames": {"n\u0000et": {"bits": [2]})"),
            "in.json: modules.top.netnames.\"n\\u0000et\": a name must not contain the character "
            "U+0000"},
        // Malformed JSON is refused also where a reader has no use for it.
        BAD_INPUT{
            "a missing colon in attributes",
            yosys_top(R"("u": {"type": "$_NOT_", "attributes": {"a" 1}})"),
            "in.json:1:75: malformed JSON: The JSON document has an improper structure: missing or "
            "superfluous commas, braces, missing keys, etc."},
        BAD_INPUT{"a misspelt literal in parameters",
                  yosys_top(R"("u": {"type": "$_NOT_", "parameters": {"A": tru}})"),
                  "in.json:1:76: malformed JSON: invalid token tru"},
        BAD_INPUT{"a bad escape in an input connection",
                  yosys_top(R"("u": {"type": "$_NOT_", "port_directions": {"A": "input"}, )"
                            R"("connections": {"A": ["\x41"]}})"),
                  "in.json:1:119: malformed JSON: Problem while parsing a string"},
        BAD_INPUT{
            "cells of twelve types nothing describes",
            yosys_top(R"("a": {"type": "T0"}, "b": {"type": "T1"}, "c": {"type": "T2"},
                    "d": {"type": "T3"}, "e": {"type": "T4"}, "f": {"type": "T5"},
                    "g": {"type": "T6"}, "h": {"type": "T7"}, "i": {"type": "T8"},
                    "j": {"type": "T9"}, "k": {"type": "TA"}, "l": {"type": "TB"},
                    "m": {"type": "T0"}, "n": {"type": "$_NOT_", "port_directions": {}})"),
            "in.json: modules.top.cells.a: 13 cells of 12 types have no known pins (\"T0\", "
            "\"T1\", "
            "\"T2\", \"T3\", \"T4\", \"T5\", \"T6\", \"T7\", \"T8\", \"T9\", and 2 more); give "
            "--liberty, or --unknown-cells atom"},
        BAD_INPUT{
            "a trailing comma in ports", yosys_top("", R"("ports": {"a": [2,]}, )"),
            "in.json:1:40: malformed JSON: The JSON document has an improper structure: missing or "
            "superfluous commas, braces, missing keys, etc."}));

}  // namespace
}  // namespace zema_tool
