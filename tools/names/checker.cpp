#include "tools/names/checker.h"

#include <algorithm>
#include <string_view>

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
  void unnamed(std::string row) {
    add({VIOLATION_KIND::UNNAMED, std::move(row), 0, 0, false}, &m_result.m_mismatches);
  }
  void checked() { ++m_result.m_checked; }

 private:
  void add(VIOLATION violation, std::size_t* count) {
    ++*count;
    m_result.m_violations.push_back(std::move(violation));
  }

  CHECK_RESULT& m_result;
};

// Every node of the tree: a legal segment, unique among its siblings, and
// found again by its full name. Then every atom and oterm: its full name
// leads back to its own id (the root, whose full name is empty, aside).
void check_fusion(CONVERSION const& conversion, TALLY& tally) {
  ZEMA_NAME_CONVERTER& converter = conversion.converter();
  TREE_WALK walk(conversion.tree()->root());
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
    if (!zema_is_legal_unit_name(node->m_name)) tally.illegal(walk.path(), node->m_id);
    unsigned const found = converter.get_original_name_id(walk.path().c_str());
    if (found != node->m_id) tally.mismatch(walk.path(), found, node->m_id);
    if (!walk.m_duplicates.empty()) {
      parent_path = walk.path() + "/";
      report_duplicates();
    }
  }
  GEN_STRING full;
  conversion.for_each_row([&](ROW const& row) {
    if (!row.full(converter, &full)) {
      tally.unnamed(row.label());
      return;
    }
    if (full.empty()) return;
    unsigned const id = id_of(row.name());
    unsigned const found = converter.get_original_name_id(full.c_str());
    if (found != id) tally.mismatch(std::string(full.c_str()), found, id);
  });
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
  conversion.for_each_row([&](ROW const& row) {
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
  });
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
