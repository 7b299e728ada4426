#include "tools/names/explainer.h"

#include <algorithm>
#include <utility>

#include "atm/zema/zema_naming_rules.h"

namespace zema_tool {
namespace {

// What legalising changed in `unit` to give `legal`: an "a" in front when
// the name does not start with a letter, upper-case letters made lower
// case, and every other byte outside the legal alphabet made "_" (shown by
// character: the bytes of one UTF-8 character together).
std::vector<LEGAL_CHANGE> changes_of(std::string_view unit, std::string_view legal) {
  std::vector<LEGAL_CHANGE> changes;
  std::size_t shift = 0;
  if (legal.size() == unit.size() + 1) {
    changes.push_back({LEGAL_RULE::PREFIX, std::string(), 0});
    shift = 1;
  }
  for (std::size_t i = 0; i < unit.size();) {
    std::size_t length = 1;
    if (legal[i + shift] == unit[i]) {
      ++i;
      continue;
    }
    unsigned char const lead = static_cast<unsigned char>(unit[i]);
    if (lead >= 0xC0) length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    length = std::min(length, unit.size() - i);
    bool const upper = unit[i] >= 'A' && unit[i] <= 'Z';
    changes.push_back({upper ? LEGAL_RULE::LOWER_CASE : LEGAL_RULE::UNDERSCORE,
                       std::string(unit.substr(i, length)), i});
    i += length;
  }
  return changes;
}

}  // namespace

EXPLAINER::EXPLAINER(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
                     NAME_INDEX const& index)
    : m_conversion(conversion),
      m_tree(*conversion.tree()),
      m_originals(originals),
      m_index(index) {}

// The nodes from below the root down to the one `converted` names; false
// when a level names nothing.
bool EXPLAINER::walk(std::string const& converted, std::vector<NODE const*>* nodes) const {
  nodes->clear();
  NODE const* parent = m_tree.root();
  for (std::size_t start = 0; parent != nullptr;) {
    std::size_t const slash = converted.find('/', start);
    std::size_t const end = slash == std::string::npos ? converted.size() : slash;
    NODE const* const node = m_tree.child(parent, converted.substr(start, end - start));
    if (node == nullptr) return false;
    nodes->push_back(node);
    if (slash == std::string::npos) return true;
    parent = node;
    start = slash + 1;
  }
  return false;
}

std::optional<EXPLANATION> EXPLAINER::explain(std::string_view given) {
  EXPLANATION explanation;
  explanation.m_converted.assign(given);
  if (!given.empty() && given[0] == '\\') explanation.m_converted.erase(0, 1);
  std::vector<NODE const*> nodes;
  if (!walk(explanation.m_converted, &nodes)) {
    // An original name: through the map, with or without its leading "/".
    std::optional<std::string_view> found = m_index.converted_of(given);
    if (!found && (given.empty() || given[0] != '/')) {
      found = m_index.converted_of("/" + std::string(given));
    }
    if (!found) return std::nullopt;
    explanation.m_converted.assign(*found);
    if (!walk(explanation.m_converted, &nodes)) return std::nullopt;
  }
  NODE const* parent = m_tree.root();
  for (NODE const* node : nodes) {
    EXPLAINED_LEVEL level;
    level.m_segment = node->m_name;
    level.m_hierarchy = m_tree.in_hierarchy(node);
    if (level.m_hierarchy) {
      explain_hierarchy(node, &level);
    } else {
      explain_made_up(node, &level);
    }
    find_suffix(parent, &level);
    explanation.m_levels.push_back(std::move(level));
    parent = node;
  }
  NODE const* const last = nodes.back();
  explanation.m_kind = m_tree.kind_of(last);
  explanation.m_id = last->m_id;
  explanation.m_original = original_of(last);
  return explanation;
}

std::string EXPLAINER::original_of(NODE const* node) {
  HDB_INSTANCE_NAME const* const name = m_originals.find(node->m_id);
  std::string text;
  if (name != nullptr) m_originals.append(&text, name);
  return text;
}

void EXPLAINER::explain_hierarchy(NODE const* node, EXPLAINED_LEVEL* level) {
  HDB_INSTANCE_NAME const* const name = m_originals.find(node->m_id);
  if (name == nullptr) return;
  level->m_unit = name->get_unit_name().get_string();
  level->m_base = m_tree.legal_form(level->m_unit.c_str());
  level->m_changes = changes_of(level->m_unit, level->m_base);
}

// The rows whose names are made up (atoms of every type but COMB, and the
// oterms of COMB atoms), chained by id: a made-up leaf is explained by the
// last of them that has its id, not by a pass over the netlist.
void EXPLAINER::index_made_up_rows() {
  m_indexed = true;
  m_conversion.for_each_row([&](ROW const& row) {
    int const type = row.m_atom->get_basic_type();
    bool const made_up = row.is_oterm() ? zema_is_hierarchy_named_atom_type(type)
                                        : !zema_is_hierarchy_named_atom_type(type);
    if (!made_up) return;
    std::uint32_t const index = static_cast<std::uint32_t>(m_made_up.size());
    auto const last = m_last_made_up.emplace(id_of(row.name()), index);
    m_made_up.push_back({row, last.second ? kNone : *last.first});
    *last.first = index;
  });
}

// A made-up leaf names an atom or an oterm with its id; the last one whose
// converted unit name is the leaf's tells the rule.
void EXPLAINER::explain_made_up(NODE const* node, EXPLAINED_LEVEL* level) {
  if (!m_indexed) index_made_up_rows();
  std::string_view const final_name(node->m_name);
  std::uint32_t const* const last = m_last_made_up.find(node->m_id);
  bool found = false;
  for (std::uint32_t at = last != nullptr ? *last : kNone; at != kNone && !found;
       at = m_made_up[at].m_previous) {
    ROW const& row = m_made_up[at].m_row;
    if (!row.unit(m_conversion.converter(), &m_unit) || std::string_view(m_unit) != final_name) {
      continue;
    }
    int const type = row.m_atom->get_basic_type();
    if (type < 0 || type >= kZemaAtomTypeCount) continue;
    std::string const stem = row.is_oterm() ? "w" : std::string(m_tree.type_prefix(type));
    if (final_name.substr(0, stem.size()) != stem) continue;
    found = true;
    level->m_stem = stem;
    level->m_rule = row.is_oterm()                       ? MADE_UP_RULE::OTERM_NUMBER
                    : zema_is_node_named_atom_type(type) ? MADE_UP_RULE::ATOM_NODE
                                                         : MADE_UP_RULE::ATOM_NUMBER;
  }
  if (!found) return;  // superseded: no atom or oterm bears it now
  std::string_view const rest =
      final_name.substr(std::min(level->m_stem.size(), final_name.size()));
  if (level->m_rule == MADE_UP_RULE::ATOM_NODE) {
    // The prefix, "_" and the converted name of the atom's own node.
    NODE const* const own = m_tree.hierarchy_node(node->m_id);
    level->m_from = own != nullptr ? own->m_name : "";
    level->m_base = level->m_stem + "_" + level->m_from;
  } else {
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    level->m_from = std::string(rest.substr(0, digits));
    level->m_base = level->m_stem + level->m_from;
  }
}

// The uniquing suffix of a level whose final name is its base, "_" and a
// number, and the siblings that hold the base and the smaller suffixes.
void EXPLAINER::find_suffix(NODE const* parent, EXPLAINED_LEVEL* level) {
  std::string_view const final_name(level->m_segment);
  std::string const& base = level->m_base;
  if (base.empty() || final_name == base || final_name.size() <= base.size() + 1 ||
      final_name.substr(0, base.size()) != base || final_name[base.size()] != '_') {
    return;
  }
  level->m_suffix = std::stol(std::string(final_name.substr(base.size() + 1)));
  // Capture names siblings in the byte order of their unit names, and the
  // netlist's made-up names come after it.
  std::vector<std::pair<std::string, NODE const*>> keyed;
  for (long k = -1; k < level->m_suffix; ++k) {
    std::string const taken = k < 0 ? base : base + "_" + std::to_string(k);
    NODE const* const holder = m_tree.child(parent, taken);
    if (holder == nullptr) continue;
    HDB_INSTANCE_NAME const* const name = m_originals.find(holder->m_id);
    bool const hierarchy = m_tree.in_hierarchy(holder) && name != nullptr;
    keyed.emplace_back(hierarchy ? std::string(1, '\0') + name->get_unit_name().get_string()
                                 : std::string(1, '\1'),
                       holder);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](auto const& a, auto const& b) { return a.first < b.first; });
  for (auto const& entry : keyed) {
    NODE const* const holder = entry.second;
    level->m_holders.push_back(
        {holder->m_name, holder->m_id, original_of(holder), m_tree.in_hierarchy(holder)});
  }
}

}  // namespace zema_tool
