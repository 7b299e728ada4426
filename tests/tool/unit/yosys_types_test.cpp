// The atom types of Yosys cell types: gate-level cells by their first word,
// word-level cells by name, memories, and COMB for everything unknown.
#include <gtest/gtest.h>

#include "h/cdb_net_sys.h"
#include "tools/input/yosys_reader.h"

namespace zema_tool {
namespace {

struct TYPE_CASE {
  char const* cell_type;
  int atom_type;
};

void PrintTo(TYPE_CASE const& c, std::ostream* out) { *out << c.cell_type; }

class YosysTypeTest : public ::testing::TestWithParam<TYPE_CASE> {};

TEST_P(YosysTypeTest, MapsTheCellTypeToItsAtomType) {
  EXPECT_EQ(yosys_atom_type(GetParam().cell_type), GetParam().atom_type) << GetParam().cell_type;
}

INSTANTIATE_TEST_SUITE_P(
    CellTypes, YosysTypeTest,
    ::testing::Values(TYPE_CASE{"$_SDFFE_PP0P_", CDB_ATOM_DFF}, TYPE_CASE{"$_DFF_P_", CDB_ATOM_DFF},
                      TYPE_CASE{"$_DLATCH_N_", CDB_ATOM_LATCH}, TYPE_CASE{"$_MUX4_", CDB_ATOM_MUX},
                      TYPE_CASE{"$_XNOR_", CDB_ATOM_XOR}, TYPE_CASE{"$_NOT_", CDB_ATOM_INV},
                      TYPE_CASE{"$_TBUF_", CDB_ATOM_TRI}, TYPE_CASE{"$_NAND_", CDB_ATOM_COMB},
                      TYPE_CASE{"$_AOI3_", CDB_ATOM_COMB}, TYPE_CASE{"$_AND", CDB_ATOM_COMB},
                      TYPE_CASE{"$adff", CDB_ATOM_DFF}, TYPE_CASE{"$lut", CDB_ATOM_LUT},
                      TYPE_CASE{"$reduce_bool", CDB_ATOM_OR}, TYPE_CASE{"$logic_not", CDB_ATOM_INV},
                      TYPE_CASE{"$alu", CDB_ATOM_ADDER}, TYPE_CASE{"$nex", CDB_ATOM_COMPARATOR},
                      TYPE_CASE{"$shiftx", CDB_ATOM_SHIFTREG}, TYPE_CASE{"$macc", CDB_ATOM_MULT},
                      TYPE_CASE{"$mem_v2", CDB_ATOM_RAM}, TYPE_CASE{"$meminit", CDB_ATOM_RAM},
                      TYPE_CASE{"$neg", CDB_ATOM_COMB}, TYPE_CASE{"SB_LUT4", CDB_ATOM_COMB},
                      TYPE_CASE{"", CDB_ATOM_COMB}, TYPE_CASE{"$", CDB_ATOM_COMB}));

}  // namespace
}  // namespace zema_tool
