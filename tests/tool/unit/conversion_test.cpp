// Rows named in batches, on two threads under fusion, must be the rows and
// names that one query per row gives, in the same order, for any number of
// atoms around the batch size. The check of a damaged tree reports what a
// lookup of every node and row finds, in order.
#include "tools/names/conversion.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tools/input/read_design.h"
#include "tools/names/checker.h"

namespace zema_tool {
namespace {

// `atoms` atoms under one instance each, with one output; every third atom
// is a LUT without a name of its own, so that its name is made up, and
// every seventh has a null output before its own.
std::string flat_design(std::size_t atoms) {
  std::string children;
  std::string netlist;
  for (std::size_t i = 0; i < atoms; ++i) {
    std::string const id = std::to_string(2 + 2 * i);
    std::string const out = std::to_string(3 + 2 * i);
    children.append(i ? "," : "").append("{\"name\":\"u[").append(std::to_string(i % 50));
    children.append("]\",\"id\":").append(id).append(",\"children\":[{\"name\":\"Q\",\"id\":");
    children.append(out).append("}]}");
    netlist.append(i ? "," : "");
    if (i % 3 == 2) {
      netlist.append("{\"type\":\"Lut\"");
    } else {
      netlist.append("{\"type\":\"COMB\",\"name\":").append(id);
    }
    netlist.append(",\"oterms\":[").append(i % 7 == 3 ? "null," : "").append(out).append("]}");
  }
  return "{\"root\":{\"name\":\"\",\"id\":1,\"children\":[" + children + "]},\"netlist\":[" +
         netlist + "]}";
}

std::string row_line(ROW const& row, unsigned const* id, std::string_view const* unit,
                     std::string_view const* full) {
  return row.label() + " " + (id ? std::to_string(*id) : "-") + " " +
         (unit ? std::string(*unit) : "-") + " " + (full ? std::string(*full) : "-");
}

TEST(NamedRows, AreTheRowsOfOneQueryEachInOrder) {
  for (ZEMA_NAME_CONVERTER_ENUM strategy :
       {ZEMA_NAME_CONVERTER_FUSION, ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE}) {
    for (std::size_t atoms : {0, 1, 2048, 2049, 4096, 40000}) {
      SCOPED_TRACE(std::to_string(atoms) + " atoms, strategy " + std::to_string(strategy));
      DESIGN_RECORDS records;
      read_records(INPUT_TEXT::from_bytes(flat_design(atoms), "d.json", 1 << 30), READ_OPTIONS(),
                   &records);
      std::unique_ptr<LOADED_DESIGN> design = build_design(std::move(records));
      PHASES phases(false, false);
      CONVERSION const conversion(*design, strategy, phases);
      for (bool no_backslash : {true, false}) {
        std::vector<std::string> expected;
        GEN_STRING unit;
        GEN_STRING full;
        conversion.for_each_row([&](ROW const& row) {
          bool const has_unit = row.unit(conversion.converter(), &unit);
          bool const has_full = row.full(conversion.converter(), &full, no_backslash);
          std::string_view const unit_text(unit);
          std::string_view const full_text(full);
          unsigned const id = row.name() ? id_of(row.name()) : 0;
          expected.push_back(row_line(row, row.name() ? &id : nullptr,
                                      has_unit ? &unit_text : nullptr,
                                      has_full ? &full_text : nullptr));
        });
        std::vector<std::string> named;
        conversion.for_each_named_row(
            no_backslash,
            [&](ROW const& row, unsigned const* id, std::string_view const* u,
                std::string_view const* f) { named.push_back(row_line(row, id, u, f)); });
        ASSERT_EQ(named.size(), 2 * atoms);
        EXPECT_EQ(named, expected);
      }
    }
  }
}

// A visit that throws ends the walk: the other thread stops, and what was
// thrown reaches the caller.
TEST(NamedRows, AVisitThatThrowsStopsBothThreads) {
  DESIGN_RECORDS records;
  read_records(INPUT_TEXT::from_bytes(flat_design(30000), "d.json", 1 << 30), READ_OPTIONS(),
               &records);
  std::unique_ptr<LOADED_DESIGN> design = build_design(std::move(records));
  PHASES phases(false, false);
  CONVERSION const conversion(*design, ZEMA_NAME_CONVERTER_FUSION, phases);
  for (std::size_t stop_at : {0, 5000, 59999}) {
    std::size_t visited = 0;
    EXPECT_THROW(
        conversion.for_each_named_row(
            true,
            [&](ROW const&, unsigned const*, std::string_view const*, std::string_view const*) {
              if (visited++ == stop_at) throw std::runtime_error("stop");
            }),
        std::runtime_error);
    EXPECT_EQ(visited, stop_at + 1);
  }
}

// Two nodes of the tree renamed behind the converter's back: one to its
// sibling's name, one to an illegal text no table holds. Every node and row
// whose full name changed looks up to another id, or to none; the nodes'
// violations come in the walk's order (duplicates of a parent's children
// first), then the rows' in netlist order.
TEST(CheckNames, ReportsADamagedTreeNodesInWalkOrderThenRowsInNetlistOrder) {
  DESIGN_RECORDS records;
  read_records(INPUT_TEXT::from_bytes(flat_design(6), "d.json", 1 << 30), READ_OPTIONS(), &records);
  std::unique_ptr<LOADED_DESIGN> design = build_design(std::move(records));
  PHASES phases(false, false);
  CONVERSION const conversion(*design, ZEMA_NAME_CONVERTER_FUSION, phases);
  EXPECT_TRUE(check_names(conversion).ok());

  FUSION_TREE const& tree = *conversion.tree();
  NODE* const first = tree.child(tree.root(), "u[0]");
  NODE* const second = tree.child(tree.root(), "u[1]");
  NODE* const made_up = tree.child(tree.root(), "w2");  // oterm 3.1's name
  ASSERT_TRUE(first && second && made_up);
  // Each name is put back before the converter frees its tree.
  struct RENAMED {
    RENAMED(NODE* node, char const* name) : m_node(node), m_old(node->m_name) {
      node->m_name = name;
    }
    ~RENAMED() { m_node->m_name = m_old; }
    NODE* m_node;
    char const* m_old;
  };
  RENAMED const duplicate(second, first->m_name);
  RENAMED const illegal(made_up, "W2");

  CHECK_RESULT const result = check_names(conversion);
  std::vector<std::string> described;
  for (VIOLATION const& violation : result.m_violations) {
    described.push_back(CHECK_RESULT::describe(violation));
  }
  EXPECT_EQ(described, (std::vector<std::string>{
                           "duplicate name \"u[0]\" among siblings (ids 2 and 4)",
                           "illegal name \"W2\" (id 9)",
                           "lookup of \"W2\" gives 0, expected 9",
                           "lookup of \"u[0]\" gives 2, expected 4",
                           "lookup of \"u[0]/aq\" gives 3, expected 5",
                           "lookup of \"u[0]\" gives 2, expected 4",
                           "lookup of \"W2\" gives 0, expected 9",
                       }));
  EXPECT_EQ(result.m_checked, 18u);
  EXPECT_EQ(result.m_illegal, 1u);
  EXPECT_EQ(result.m_duplicate, 1u);
  EXPECT_EQ(result.m_mismatches, 5u);
}

}  // namespace
}  // namespace zema_tool
