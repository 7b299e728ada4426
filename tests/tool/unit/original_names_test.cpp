// ORIGINAL_NAMES: every name of a design found by its id and written in the
// one unambiguous form of the name map, whatever bytes the names hold.
#include "tools/names/original_names.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/input/read_design.h"

namespace zema_tool {
namespace {

// A design whose names need every escape: a "/" and a "\" inside a name,
// an empty name, twin siblings, and names outside the hierarchy that atoms
// and oterms hold, one of them the name of a hierarchy instance.
std::string const kDesign = R"({
  "root": {"name": "", "id": 1, "children": [
    {"name": "cpu", "id": 2, "children": [
      {"name": "a/b", "id": 3}, {"name": "x\\y", "id": 4}, {"name": "", "id": 5},
      {"name": "t", "id": 6}, {"name": "t", "id": 7}]}]},
  "names": [{"name": "free", "id": 8}, {"name": "cpu", "id": 9}],
  "netlist": [{"type": "COMB", "name": 6, "oterms": [{"name": "made", "id": 10}]},
              {"type": "DFF", "name": 8, "oterms": [7]}, {"type": "DFF", "name": 9}]})";

std::unique_ptr<LOADED_DESIGN> load(std::string const& text) {
  DESIGN_RECORDS records;
  read_records(INPUT_TEXT::from_bytes(text, "d.json", 1 << 20), READ_OPTIONS(), &records);
  return build_design(std::move(records));
}

TEST(OriginalNamesTest, WritesEveryNameInItsUnambiguousForm) {
  std::unique_ptr<LOADED_DESIGN> const design = load(kDesign);
  ORIGINAL_NAMES names(*design);
  struct {
    unsigned id;
    char const* original;
  } const expected[] = {{1, "/"},        {2, "/cpu"},   {3, "/cpu/a\\/b"}, {4, "/cpu/x\\\\y"},
                        {5, "/cpu/\\."}, {6, "/cpu/t"}, {7, "/cpu/t\\#1"}, {8, "free"},
                        {9, "cpu"},      {10, "made"}};
  for (auto const& name : expected) {
    HDB_INSTANCE_NAME const* const found = names.find(name.id);
    ASSERT_NE(found, nullptr) << name.id;
    std::string text;
    names.append(&text, found);
    EXPECT_EQ(text, name.original) << name.id;
  }
  EXPECT_EQ(names.find(0), nullptr);
  EXPECT_EQ(names.find(11), nullptr);
}

}  // namespace
}  // namespace zema_tool
