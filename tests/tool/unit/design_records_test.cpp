// The checks of DESIGN_RECORDS on designs written as records, without JSON:
// id assignment, duplicate ids, references, and the netlist rules.
#include "tools/input/design_records.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

constexpr std::uint64_t kNoId = ~std::uint64_t{0};

// Builds records the way the design-file reader does, in document order.
class RECORDS {
 public:
  RECORDS() { m_root = add(NAME_HIERARCHY, kNoRecord, 0, "", 1); }

  std::uint32_t child(std::uint32_t parent, char const* name, std::uint64_t id = kNoId) {
    std::uint32_t position = 0;
    for (NAME_RECORD const& r : m_records.m_names) {
      position += r.m_kind == NAME_HIERARCHY && r.m_parent == parent;
    }
    return add(NAME_HIERARCHY, parent, position, name, id);
  }
  std::uint32_t listed(char const* name, std::uint64_t id = kNoId) {
    return add(NAME_LISTED, kNoRecord, m_listed++, name, id);
  }
  // A name object inside the netlist, for the atom about to be added.
  REF made(char const* name, std::uint64_t id, std::uint32_t oterm = kNoRecord) {
    return {
        add(NAME_NETLIST, oterm, static_cast<std::uint32_t>(m_records.m_atoms.size()), name, id),
        REF_RECORD};
  }
  REF id(std::uint64_t value) { return m_records.id_ref(value); }

  void atom(int type, REF name, std::initializer_list<REF> oterms = {}) {
    m_records.m_atoms.push_back(
        {name, static_cast<std::uint32_t>(m_records.m_oterms.size()), type});
    for (REF const& ref : oterms) m_records.m_oterms.push_back(ref);
  }

  // The message of resolve(), or "" when it succeeds.
  std::string resolve() {
    try {
      m_records.resolve();
    } catch (TOOL_ERROR const& error) {
      return error.text();
    }
    return std::string();
  }

  std::uint32_t root() const { return m_root; }
  DESIGN_RECORDS& records() { return m_records; }

 private:
  std::uint32_t add(NAME_KIND kind, std::uint32_t parent, std::uint32_t pos, char const* name,
                    std::uint64_t id) {
    return m_records.add_name(kind, parent, pos, m_records.add_text(name), id == kNoId ? 0 : id,
                              id != kNoId);
  }

  DESIGN_RECORDS m_records;
  std::uint32_t m_root;
  std::uint32_t m_listed = 0;
};

TEST(DesignRecordsTest, MissingIdsFollowTheLargestIdWrittenInDocumentOrder) {
  RECORDS d;
  std::uint32_t const a = d.child(d.root(), "a");
  std::uint32_t const b = d.child(d.root(), "b", 7);
  std::uint32_t const c = d.child(a, "c");
  std::uint32_t const n = d.listed("n");
  d.atom(5, d.id(20));  // a reference counts towards the largest id, too
  d.records().m_atoms.pop_back();
  ASSERT_EQ(d.resolve(), "");
  auto const& names = d.records().m_names;
  EXPECT_EQ(names[a].m_id, 21u);
  EXPECT_EQ(names[b].m_id, 7u);
  EXPECT_EQ(names[c].m_id, 22u);
  EXPECT_EQ(names[n].m_id, 23u);
}

TEST(DesignRecordsTest, NoIdLeftAfterTheLargestPossible) {
  RECORDS d;
  d.child(d.root(), "full", 4294967295u);
  d.child(d.root(), "none");
  EXPECT_EQ(d.resolve(),
            "root.children[1]: no id left to assign: the largest id given is 4294967295");
}

TEST(DesignRecordsTest, ResolvesReferencesToDeclaredNames) {
  RECORDS d;
  std::uint32_t const q = d.child(d.root(), "q", 5);
  std::uint32_t const n = d.listed("n40", 40);
  d.atom(26, d.id(5), {d.id(40), REF{0, REF_NULL_OTERM}, d.made("x", 0, 2)});
  ASSERT_EQ(d.resolve(), "");
  auto const& records = d.records();
  EXPECT_EQ(records.m_atoms[0].m_name.m_kind, REF_RECORD);
  EXPECT_EQ(records.m_atoms[0].m_name.m_value, q);
  EXPECT_EQ(records.m_oterms[0].m_value, n);
  EXPECT_EQ(records.m_oterms[1].m_kind, REF_NULL_OTERM);
  EXPECT_EQ(records.oterm_end(0), 3u);
}

// Each case builds a small design around one fault and expects its message.
struct FAULT {
  char const* what;
  void (*build)(RECORDS&);
  char const* message;
};

void PrintTo(FAULT const& fault, std::ostream* out) { *out << fault.what; }

class DesignRecordsFaultTest : public ::testing::TestWithParam<FAULT> {};

TEST_P(DesignRecordsFaultTest, ReportsThePlaceAndTheProblem) {
  RECORDS d;
  GetParam().build(d);
  EXPECT_EQ(d.resolve(), GetParam().message) << GetParam().what;
}

FAULT const kFaults[] = {
    {"two instances with one id",
     [](RECORDS& d) {
       std::uint32_t const a = d.child(d.root(), "a", 2);
       d.child(a, "b", 3);
       d.child(d.root(), "c", 2);
     },
     "root.children[1].id: duplicate id 2 (first declared at root.children[0])"},
    {"a listed name repeats an instance's id",
     [](RECORDS& d) {
       d.child(d.root(), "a", 2);
       d.listed("n", 2);
     },
     "names[0].id: duplicate id 2 (first declared at root.children[0])"},
    {"two instances with one id far beyond the others",
     [](RECORDS& d) {
       d.child(d.root(), "a", 2);
       d.child(d.root(), "b", 4000000000u);
       d.child(d.root(), "c", 4000000000u);
     },
     "root.children[2].id: duplicate id 4000000000 (first declared at root.children[1])"},
    {"a reference past the largest id declared",
     [](RECORDS& d) {
       d.child(d.root(), "a", 2);
       d.atom(5, d.id(3));
     },
     "netlist[0].name: no instance name has id 3"},
    {"a reference far beyond every id declared",
     [](RECORDS& d) {
       d.child(d.root(), "a", 2);
       d.atom(5, d.id(4000000000u));
     },
     "netlist[0].name: no instance name has id 4000000000"},
    {"a reference to nothing", [](RECORDS& d) { d.atom(5, d.id(99)); },
     "netlist[0].name: no instance name has id 99"},
    {"an oterm reference to nothing",
     [](RECORDS& d) {
       d.child(d.root(), "a", 2);
       d.atom(5, REF{0, REF_NONE}, {d.id(2), d.id(41)});
     },
     "netlist[0].oterms[1]: no instance name has id 41"},
    {"a COMB atom without a name",
     [](RECORDS& d) {
       d.atom(26, REF{0, REF_NONE});
     },
     "netlist[0]: a type-26 (COMB) atom needs a name inside the hierarchy"},
    {"a COMB atom named outside the hierarchy",
     [](RECORDS& d) {
       d.listed("n", 40);
       d.atom(26, d.id(40));
     },
     "netlist[0].name: a type-26 (COMB) atom must be named by an instance inside the hierarchy; "
     "id 40 is not one"},
    {"an IO atom named by a made-up name", [](RECORDS& d) { d.atom(35, d.made("pad", 41)); },
     "netlist[0].name: a type-35 (PIN) atom must be named by an instance inside the hierarchy; "
     "id 41 is not one"},
    {"an oterm of an ordinary atom outside the hierarchy",
     [](RECORDS& d) {
       d.child(d.root(), "a", 2);
       d.atom(26, d.id(2));
       d.atom(7, REF{0, REF_NONE}, {d.id(2), d.made("q", 0, 1)});
     },
     "netlist[1].oterms[1]: an oterm of a type-7 (RAM) atom must be named by an instance inside "
     "the hierarchy; id 0 is not one"},
};

INSTANTIATE_TEST_SUITE_P(Faults, DesignRecordsFaultTest, ::testing::ValuesIn(kFaults));

TEST(DesignRecordsTest, ANameMadeWithAnInstancesIdCountsAsThatInstance) {
  RECORDS d;
  d.child(d.root(), "a", 2);
  d.atom(3, d.made("alias", 2));
  d.atom(9, REF{0, REF_NONE}, {d.made("alias", 2, 0)});
  EXPECT_EQ(d.resolve(), "");
}

// Ids are kept in an array up to a bound set by the count of names, and
// beyond it in a map: references resolve on either side.
TEST(DesignRecordsTest, IdsFarApartResolve) {
  RECORDS d;
  std::uint32_t const a = d.child(d.root(), "a", 2);
  std::uint32_t const b = d.child(d.root(), "b", 4000000000u);
  std::uint32_t const n = d.listed("n", 3000000000u);
  d.atom(26, d.id(4000000000u), {d.id(2)});
  d.atom(5, d.id(3000000000u));
  ASSERT_EQ(d.resolve(), "");
  auto const& records = d.records();
  EXPECT_EQ(records.m_atoms[0].m_name.m_value, b);
  EXPECT_EQ(records.m_oterms[0].m_value, a);
  EXPECT_EQ(records.m_atoms[1].m_name.m_value, n);
}

// The id table behind the declared ids: ids on both sides of the array's
// bound (4 * 10 + 4096 = 4136 for ten expected entries), with gaps between.
TEST(DesignRecordsTest, IdTableKeepsIdsOnBothSidesOfItsArray) {
  ID_TABLE<std::uint32_t, kNoRecord> table(10);
  std::uint32_t const present[] = {0, 1, 100, 4135, 4136, 4137, 0x80000000u, 0xfffffffeu};
  std::uint32_t const absent[] = {2, 99, 101, 4134, 4138, 0x7fffffffu, 0xffffffffu};
  for (std::uint32_t id : present) {
    auto const entered = table.emplace(id, id / 2);
    EXPECT_TRUE(entered.second) << id;
    EXPECT_EQ(*entered.first, id / 2) << id;
  }
  for (std::uint32_t id : present) {
    EXPECT_EQ(table.find(id), id / 2) << id;
    auto const again = table.emplace(id, 7);
    EXPECT_FALSE(again.second) << id;
    EXPECT_EQ(*again.first, id / 2) << id;
  }
  for (std::uint32_t id : absent) EXPECT_EQ(table.find(id), kNoRecord) << id;
}

TEST(DesignRecordsTest, OtermsOfCombAtomsMayLieOutsideTheHierarchy) {
  RECORDS d;
  d.child(d.root(), "a", 2);
  d.atom(26, d.id(2), {d.made("w", 0, 0), d.made("v", 77, 1)});
  EXPECT_EQ(d.resolve(), "");
}

TEST(DesignRecordsTest, DeepPlacesKeepTheirFirstAndLastLevels) {
  std::vector<std::uint32_t> positions(12, 0);
  positions.back() = 4;
  EXPECT_EQ(hierarchy_place(positions),
            "root.children[0].children[0].children[0].children[0].(5 more levels)"
            ".children[0].children[0].children[4]");
  EXPECT_EQ(hierarchy_place({}), "root");
}

}  // namespace
}  // namespace zema_tool
