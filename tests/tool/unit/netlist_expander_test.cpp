// The netlist expander against the expansion it counts: for random
// hierarchies, written both as structural Verilog and as Yosys JSON, the
// names counted before expanding are the names made and the bytes counted
// are the bytes of their full paths as the records count them
// (DESIGN_RECORDS::full_name_bytes), so that a limit of exactly either lets
// the netlist through and one less refuses it; and every name outside the
// hierarchy is recorded with the instance that holds its cell.
#include "tools/input/netlist_expander.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/read_design.h"
#include "tools/input/verilog_reader.h"
#include "tools/input/yosys_reader.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

std::string const kLibrary = R"(library (test) {
  cell (ND2) { pin (A) { direction : input ; } pin (B) { direction : input ; }
               pin (Y) { direction : output ; } }
  cell (DFF) { ff (IQ, IQN) { clocked_on : "CK" ; next_state : "D" ; }
    pin (D) { direction : input ; } pin (CK) { direction : input ; }
    pin (Q) { direction : output ; } pin (QN) { direction : output ; } }
})";

// A random hierarchy: module m{i} instantiates only modules after it, so
// that there is no cycle, and m0 reaches every module; each module has a
// bus and cells of both library types driving its bits, or nothing.
struct RANDOM_NETLIST {
  struct CELL {
    std::string m_name;
    int m_module;  // -1: ND2, -2: DFF
    int m_bit;     // the bus bit it drives; -1 for none
  };
  struct MODULE {
    int m_width;
    std::vector<CELL> m_cells;
  };
  std::vector<MODULE> m_modules;

  explicit RANDOM_NETLIST(unsigned seed) {
    std::mt19937 random(seed);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    int const modules = 1 + below(6);
    for (int m = 0; m < modules; ++m) {
      MODULE module{1 + below(4), {}};
      for (int c = below(7); c >= 0; --c) {
        std::string name(1 + below(9), 'a');
        for (char& letter : name) letter = static_cast<char>('a' + below(26));
        name += std::to_string(module.m_cells.size());
        int const kind = below(3);
        int const child = m + 1 + below(modules);
        module.m_cells.push_back({name, kind == 0 && child < modules ? child : -1 - below(2),
                                  below(module.m_width + 1) - 1});
      }
      m_modules.push_back(module);
    }
    // Every module is reached from m0: each is an instance in one before it.
    for (int m = 1; m < modules; ++m) {
      m_modules[static_cast<std::size_t>(below(m))].m_cells.push_back(
          {"u_m" + std::to_string(m), m, -1});
    }
  }

  std::string verilog() const {
    std::string text;
    for (std::size_t m = 0; m < m_modules.size(); ++m) {
      MODULE const& module = m_modules[m];
      text += "module m" + std::to_string(m) + ";\n  wire [" + std::to_string(module.m_width - 1) +
              ":0] bus;\n";
      for (CELL const& cell : module.m_cells) {
        std::string const out =
            cell.m_bit < 0 ? std::string() : "bus[" + std::to_string(cell.m_bit) + "]";
        if (cell.m_module >= 0) {
          text += "  m" + std::to_string(cell.m_module) + " " + cell.m_name + " ();\n";
        } else {
          text += std::string(cell.m_module == -1 ? "  ND2 " : "  DFF ") + cell.m_name + " (." +
                  (cell.m_module == -1 ? "Y" : "Q") + "(" + out + "));\n";
        }
      }
      text += "endmodule\n";
    }
    return text;
  }

  std::string json() const {
    std::string text = "{\"modules\": {";
    for (std::size_t m = 0; m < m_modules.size(); ++m) {
      MODULE const& module = m_modules[m];
      text += (m != 0 ? ", \"m" : "\"m") + std::to_string(m) + "\": {\"cells\": {";
      for (std::size_t c = 0; c < module.m_cells.size(); ++c) {
        CELL const& cell = module.m_cells[c];
        text += (c != 0 ? ", \"" : "\"") + cell.m_name + "\": {\"type\": ";
        if (cell.m_module >= 0) {
          text += "\"m" + std::to_string(cell.m_module) + "\"}";
          continue;
        }
        std::string const port = cell.m_module == -1 ? "Y" : "Q";
        std::string const bits = cell.m_bit < 0 ? "" : std::to_string(2 + cell.m_bit);
        text += cell.m_module == -1 ? "\"ND2\"" : "\"DFF\"";
        text.append(", \"connections\": {\"").append(port).append("\": [").append(bits);
        text += "]}}";
      }
      text += "}, \"netnames\": {\"bus\": {\"bits\": [";
      for (int b = 0; b < module.m_width; ++b) text += (b != 0 ? ", " : "") + std::to_string(2 + b);
      text += "]}}}";
    }
    return text + "}}";
  }
};

DESIGN_RECORDS read(std::string const& text, READ_OPTIONS const& options, std::string* error) {
  DESIGN_RECORDS records;
  error->clear();
  try {
    CELL_LIBRARY library;
    read_liberty(INPUT_TEXT::from_bytes(kLibrary, "test.lib", 1 << 20, true), &library);
    INPUT_TEXT const input = INPUT_TEXT::from_bytes(text, "in", 1 << 20);
    if (detect_format(input, INPUT_FORMAT::AUTO) == INPUT_FORMAT::VERILOG) {
      read_verilog_netlist(input, options, &library, &records);
    } else {
      read_yosys_netlist(input, options, &library, &records);
    }
  } catch (TOOL_ERROR const& failure) {
    *error = failure.text();
  }
  return records;
}

TEST(NetlistExpanderTest, CountsExactlyWhatItExpandsByEitherReader) {
  int checked = 0;
  for (unsigned seed = 1; seed <= 150; ++seed) {
    RANDOM_NETLIST const netlist(seed);
    for (std::string const& text : {netlist.verilog(), netlist.json()}) {
      READ_OPTIONS options;
      options.m_top = "m0";
      options.m_unknown_cells = UNKNOWN_CELLS::ATOM;
      std::string error;
      DESIGN_RECORDS const records = read(text, options, &error);
      if (error.find("makes no atom") != std::string::npos) continue;
      ASSERT_EQ(error, "") << text;
      ++checked;
      // Each name outside the hierarchy once, in the instance holding its
      // cell: above a COMB atom's own instance, or above an ordinary atom's
      // cell, which is above its ports.
      std::vector<std::uint32_t> scope(records.m_names.size(), kNoRecord);
      for (SCOPED_NAME const& name : records.m_scoped) {
        ASSERT_EQ(scope[name.m_name], kNoRecord);
        scope[name.m_name] = name.m_scope;
      }
      for (std::uint32_t r = 0; r < records.m_names.size(); ++r) {
        EXPECT_EQ(scope[r] != kNoRecord, records.m_names[r].m_kind != NAME_HIERARCHY);
      }
      auto const parent = [&](std::uint32_t r) { return records.m_names[r].m_parent; };
      for (std::uint32_t a = 0; a < records.m_atoms.size(); ++a) {
        ATOM_RECORD const& atom = records.m_atoms[a];
        for (std::uint32_t o = atom.m_oterm_begin; o < records.oterm_end(a); ++o) {
          std::uint32_t const oterm = records.m_oterms[o].m_value;
          if (atom.m_type == CDB_ATOM_COMB) {
            EXPECT_EQ(scope[oterm], parent(atom.m_name.m_value));
          } else {
            EXPECT_EQ(scope[atom.m_name.m_value], parent(parent(oterm)));
          }
        }
      }
      std::uint64_t const bytes = records.full_name_bytes();
      std::uint64_t const names = records.m_names.size();
      options.m_max_name_bytes = bytes;
      options.m_max_instances = names;
      read(text, options, &error);
      EXPECT_EQ(error, "") << text;
      options.m_max_name_bytes = bytes - 1;
      read(text, options, &error);
      EXPECT_NE(error.find("makes " + std::to_string(bytes) +
                           " bytes of full names, more than "
                           "--max-name-bytes"),
                std::string::npos)
          << error;
      options.m_max_name_bytes = bytes;
      options.m_max_instances = names - 1;
      read(text, options, &error);
      EXPECT_NE(error.find("makes " + std::to_string(names) + " instance names"), std::string::npos)
          << error;
    }
  }
  EXPECT_GT(checked, 250);
}

// A netlist whose records come to megabytes, so that another core populates
// them while the expansion fills them: the records must be those of the
// expansion all the same, down to the last cell's.
TEST(NetlistExpanderTest, ExpandsABigNetlistWhileItsRecordsArePopulated) {
  constexpr std::uint32_t kFanout = 64;
  constexpr std::uint32_t kCells = 80;
  auto const instances = [](char const* type) {
    std::string cells;
    for (std::uint32_t i = 0; i < kFanout; ++i) {
      cells += (i != 0 ? ", \"u" : "\"u") + std::to_string(i) + "\": {\"type\": \"" + type + "\"}";
    }
    return "{\"cells\": {" + cells + "}}";
  };
  std::string leaf = "{\"cells\": {";
  for (std::uint32_t c = 0; c < kCells; ++c) {
    leaf += (c != 0 ? ", \"c" : "\"c") + std::to_string(c) +
            "\": {\"type\": \"ND2\", \"connections\": {\"Y\": [" + std::to_string(2 + c) + "]}}";
  }
  leaf += "}, \"netnames\": {\"bus\": {\"bits\": [";
  for (std::uint32_t c = 0; c < kCells; ++c) leaf += (c != 0 ? ", " : "") + std::to_string(2 + c);
  leaf += "]}}}";
  std::string const text = "{\"modules\": {\"m0\": " + instances("m1") +
                           ", \"m1\": " + instances("m2") + ", \"m2\": " + leaf + "}}";
  READ_OPTIONS options;
  options.m_top = "m0";
  std::string error;
  DESIGN_RECORDS const records = read(text, options, &error);
  ASSERT_EQ(error, "");
  std::uint32_t const atoms = kFanout * kFanout * kCells;
  ASSERT_EQ(records.m_atoms.size(), atoms);
  EXPECT_EQ(records.m_names.size(), 1 + kFanout + kFanout * kFanout + 2 * atoms);
  EXPECT_EQ(records.m_oterms.size(), atoms);
  // The last cell, its output and its instances, by name.
  ATOM_RECORD const& last = records.m_atoms.back();
  std::uint32_t const cell = last.m_name.m_value;
  std::uint32_t const instance = records.m_names[cell].m_parent;
  EXPECT_STREQ(records.text_of(cell), "c79");
  EXPECT_STREQ(records.text_of(instance), "u63");
  EXPECT_STREQ(records.text_of(records.m_names[instance].m_parent), "u63");
  EXPECT_STREQ(records.text_of(records.m_oterms.back().m_value), "bus[79]");
}

}  // namespace
}  // namespace zema_tool
