#include "tools/names/checker.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "atm/zema/zema_naming_rules.h"
#include "tools/support/hash_table.h"
#include "tools/support/text_arena.h"
#include "tools/support/text_format.h"

namespace zema_tool {
namespace {

// A reversible segment: any number of legal bytes; with `slashes`, "/"
// separates segments.
bool is_reversible_name(std::string_view name, bool slashes) {
  return std::all_of(name.begin(), name.end(), [slashes](char c) {
    return zema_is_legal_name_char(c) || (slashes && c == '/');
  });
}

class TALLY {
 public:
  explicit TALLY(CHECK_RESULT& result) : m_result(result) {}

  void illegal(std::string name, unsigned id) {
    add({VIOLATION_KIND::ILLEGAL, std::move(name), id, 0, false}, &m_result.m_illegal);
  }
  void duplicate(std::string name, unsigned first, unsigned second, bool among_siblings) {
    add({VIOLATION_KIND::DUPLICATE, std::move(name), first, second, among_siblings},
        &m_result.m_duplicate);
  }
  void mismatch(std::string name, unsigned found, unsigned expected) {
    add({VIOLATION_KIND::MISMATCH, std::move(name), expected, found, false},
        &m_result.m_mismatches);
  }
  // A row's MISMATCH or UNNAMED.
  void row(VIOLATION violation) { add(std::move(violation), &m_result.m_mismatches); }
  void checked() { ++m_result.m_checked; }

 private:
  void add(VIOLATION violation, std::size_t* count) {
    ++*count;
    m_result.m_violations.push_back(std::move(violation));
  }

  CHECK_RESULT& m_result;
};

// The rows of a netlist chained by the id of the name each converts and by
// kind (atoms, oterms), so that the walk can check a row where it stands at
// the node that names it. Indexes are 32-bit: a design's input is under
// 4 GiB, and every row takes at least a few of its bytes.
class ROWS_BY_ID {
 public:
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};

  struct ENTRY {
    CDB_ATOM_NODE* m_atom;
    CDB_ATOM_OTERM* m_oterm;
    std::uint32_t m_next;  // the next row of the same id and kind, or kNone
    bool m_done;           // settled at a node

    bool full(ZEMA_NAME_CONVERTER& converter, GEN_STRING* out) const {
      return ROW{m_atom, 0, m_oterm, 0}.full(converter, out);
    }
  };

  struct HEADS {
    std::uint32_t m_of[2];  // the first atom and oterm, or kNone

    // The first row of the chain of atoms (`oterms` false) or oterms, or
    // kNone. A chain is given once: each row is tried at one node at most,
    // however many nodes and rows share an id.
    std::uint32_t take(bool oterms) {
      std::uint32_t const first = m_of[oterms];
      m_of[oterms] = kNone;
      return first;
    }
  };

  explicit ROWS_BY_ID(CONVERSION const& conversion) {
    conversion.for_each_row([&](ROW const& row) {
      std::uint32_t const index = static_cast<std::uint32_t>(m_rows.size());
      auto const heads = m_heads.emplace(id_of(row.name()), HEADS{kNone, kNone});
      std::uint32_t& head = heads.first->m_of[row.is_oterm()];
      m_rows.push_back({row.m_atom, row.m_oterm, head, false});
      head = index;
    });
  }

  // The chains of `id`, or null when no row has it.
  HEADS* find(unsigned id) { return m_heads.find(id); }
  ENTRY& operator[](std::uint32_t index) { return m_rows[index]; }

 private:
  HASH_MAP<std::uint32_t, HEADS> m_heads;
  std::vector<ENTRY> m_rows;  // in netlist order
};

// Every node of the tree: a legal segment, unique among its siblings, and
// found again by its full name. Then every atom and oterm: its full name
// leads back to its own id (the root, whose full name is empty, aside).
//
// A row's full name is, in a correct tree, the path of a node of the row's
// id, which the walk has just looked up: where the texts are equal, the
// walk's answer is the row's, and the row needs no lookup of its own. The
// rows are then checked in the walk's order, whose lookups and paths share
// their upper levels, rather than at random in netlist order. A row is tried
// only at the node the converter names atoms (or oterms) of its id with; any
// row not settled there is looked up after the walk. Row violations keep
// netlist order.
void check_fusion(CONVERSION const& conversion, TALLY& tally) {
  ZEMA_NAME_CONVERTER& converter = conversion.converter();
  ROWS_BY_ID rows(conversion);
  std::vector<std::pair<std::uint32_t, VIOLATION>> row_mismatches;
  GEN_STRING full;
  FUSION_TREE const& tree = *conversion.tree();
  TREE_WALK walk(tree.root());
  // Duplicates come to light when a node's children are gathered: the
  // root's at the start, every other node's right after the node's visit.
  std::string parent_path;
  auto report_duplicates = [&] {
    for (auto const& pair : walk.m_duplicates) {
      tally.duplicate(parent_path + pair.first->m_name, pair.first->m_id, pair.second->m_id, true);
    }
    walk.m_duplicates.clear();
  };
  report_duplicates();
  while (walk.next()) {
    tally.checked();
    NODE* const node = walk.node();
    std::string const& path = walk.path();
    if (!zema_is_legal_unit_name(node->m_name)) tally.illegal(path, node->m_id);
    unsigned const found = converter.get_original_name_id(path.c_str());
    if (found != node->m_id) tally.mismatch(path, found, node->m_id);
    ROWS_BY_ID::HEADS* const heads = rows.find(node->m_id);
    for (bool const oterms : {false, true}) {
      if (heads == nullptr || heads->m_of[oterms] == ROWS_BY_ID::kNone ||
          !(oterms ? tree.names_oterm(node) : tree.names_atom(node))) {
        continue;
      }
      for (std::uint32_t k = heads->take(oterms); k != ROWS_BY_ID::kNone; k = rows[k].m_next) {
        ROWS_BY_ID::ENTRY& row = rows[k];
        if (!row.full(converter, &full) || std::string_view(full) != path) continue;
        row.m_done = true;
        if (found != node->m_id) {
          row_mismatches.push_back({k, {VIOLATION_KIND::MISMATCH, path, node->m_id, found, false}});
        }
      }
    }
    if (!walk.m_duplicates.empty()) {
      parent_path = path + "/";
      report_duplicates();
    }
  }
  std::uint32_t index = 0;
  conversion.for_each_row([&](ROW const& row) {
    std::uint32_t const k = index++;
    if (rows[k].m_done) return;
    if (!row.full(converter, &full)) {
      row_mismatches.push_back({k, {VIOLATION_KIND::UNNAMED, row.label(), 0, 0, false}});
      return;
    }
    if (full.empty()) return;
    unsigned const id = id_of(row.name());
    unsigned const found = converter.get_original_name_id(full.c_str());
    if (found != id) {
      row_mismatches.push_back(
          {k, {VIOLATION_KIND::MISMATCH, std::string(full.c_str()), id, found, false}});
    }
  });
  std::stable_sort(row_mismatches.begin(), row_mismatches.end(),
                   [](auto const& a, auto const& b) { return a.first < b.first; });
  for (auto& entry : row_mismatches) tally.row(std::move(entry.second));
}

// Every converted name of an atom or oterm uses only legal bytes. Names of
// the hierarchy (not free-standing ones) must get distinct full names and be
// found again by them; the root, whose path is empty, aside.
void check_reversible(CONVERSION const& conversion, TALLY& tally) {
  ZEMA_NAME_CONVERTER& converter = conversion.converter();
  GEN_STRING unit;
  GEN_STRING full;
  HASH_MAP<std::string_view, HDB_INSTANCE_NAME const*> owners;
  TEXT_ARENA texts;
  conversion.for_each_row(
      [&](ROW const& row) {
        HDB_INSTANCE_NAME const* const name = row.name();
        bool const has_unit = row.unit(converter, &unit);
        bool const has_full = row.full(converter, &full);
        if (!has_unit && !has_full) return;
        tally.checked();
        unsigned const id = id_of(name);
        if (has_unit && !is_reversible_name(std::string_view(unit), false)) {
          tally.illegal(std::string(unit.c_str()), id);
        }
        if (!has_full) return;
        std::string_view const text(full);
        if (!is_reversible_name(text, true)) tally.illegal(std::string(text), id);
        if (!conversion.design().is_in_hierarchy(name) || text.empty()) return;
        HDB_INSTANCE_NAME const* const* const owner = owners.find(text);
        if (owner == nullptr) {
          owners.emplace(texts.keep(text), name);
        } else if (*owner != name) {
          tally.duplicate(std::string(text), id_of(*owner), id, false);
        }
        unsigned const found = converter.get_original_name_id(full.c_str());
        if (found != id) tally.mismatch(std::string(text), found, id);
      },
      true);
}

}  // namespace

std::string CHECK_RESULT::describe(VIOLATION const& v) {
  std::string const name = quoted_text(v.m_name, v.m_name.size());
  switch (v.m_kind) {
    case VIOLATION_KIND::ILLEGAL:
      return "illegal name " + name + " (id " + decimal(v.m_id) + ")";
    case VIOLATION_KIND::DUPLICATE:
      return "duplicate name " + name + (v.m_among_siblings ? " among siblings" : "") + " (ids " +
             decimal(v.m_id) + " and " + decimal(v.m_other) + ")";
    case VIOLATION_KIND::MISMATCH:
      return "lookup of " + name + " gives " + decimal(v.m_other) + ", expected " + decimal(v.m_id);
    case VIOLATION_KIND::UNNAMED:
      return v.m_name + " has no converted full name";
  }
  return std::string();
}

CHECK_RESULT check_names(CONVERSION const& conversion) {
  CHECK_RESULT result;
  TALLY tally(result);
  if (conversion.tree() != nullptr) {
    check_fusion(conversion, tally);
  } else {
    check_reversible(conversion, tally);
  }
  CONVERSION::expect_no_reports();
  return result;
}

}  // namespace zema_tool
