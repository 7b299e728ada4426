// Tests of what libzema's exports give a program beyond the names that
// check_library_symbols.sh lists: the tracking record of an element type is
// one object in the whole process, so the counters a program reads through
// its own instantiation of the record are those that the library's
// allocations move, including those of the template code the library keeps
// to itself (its copy of GEN_STRING's growth).
#include "atm/zema/zema_name_converter.h"

#include <gtest/gtest.h>

#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

class ZemaExportsTest : public zema_test::TrackedTest {};

TEST_F(ZemaExportsTest, ProgramAndLibraryShareOneTrackingRecordPerType) {
  MEM_TRACKER_THUNK const& leaves =
      MEM_TRACKER_TEMPLATE_ZEMA<ZEMA_NAME_CONVERTER_HIERARCHY_LEAF, 1255, 1>::s_thunk;
  MEM_TRACKER_THUNK const& text = MEM_TRACKER_TEMPLATE_ZEMA<char, 1255, 1>::s_thunk;

  zema_host::DESIGN design;
  HDB_INSTANCE_NAME const* const root = design.set_root("", 1);
  // Longer than any string kept inside the string object itself.
  HDB_INSTANCE_NAME const* const name = design.add_child(root, "an_instance_with_a_long_name", 2);
  CDB_ATOM_NODE* const atom = design.add_atom(CDB_ATOM_COMB, name);

  unsigned long long const leaves_before = leaves.m_total_blocks;
  {
    ZEMA_NAME_CONVERTER converter(ZEMA_NAME_CONVERTER_FUSION);
    converter.init(design.action_point(), design.netlist());
    EXPECT_GT(leaves.m_total_blocks, leaves_before);
    EXPECT_GT(leaves.m_live_blocks, 0u);

    GEN_STRING out;
    unsigned long long const text_before = text.m_total_blocks;
    ASSERT_TRUE(converter.get_converted_unit_name(&out, atom));
    EXPECT_EQ(out, "an_instance_with_a_long_name");
    EXPECT_GT(text.m_total_blocks, text_before);
  }
  EXPECT_EQ(leaves.m_live_blocks, 0u);
}

}  // namespace
