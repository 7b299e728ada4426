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

// --- The explainer --------------------------------------------------------------

// The nodes from below the root down to the one `converted` names; false
// when a level names nothing.
bool EXPLAINER::walk(std::string const& converted, std::vector<NAME_NODE>* nodes) {
  nodes->clear();
  for (std::size_t start = 0;;) {
    std::size_t const slash = converted.find('/', start);
    std::size_t const end = slash == std::string::npos ? converted.size() : slash;
    NAME_NODE node;
    if (!m_source.child(nodes->empty() ? nullptr : &nodes->back(),
                        std::string_view(converted).substr(start, end - start), &node)) {
      return false;
    }
    nodes->push_back(node);
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::optional<EXPLANATION> EXPLAINER::explain(std::string_view given, bool* shared) {
  bool several = false;
  EXPLANATION explanation;
  explanation.m_converted.assign(given);
  if (!given.empty() && given[0] == '\\') explanation.m_converted.erase(0, 1);
  std::vector<NAME_NODE> nodes;
  if (!walk(explanation.m_converted, &nodes)) {
    // An original name: through the map, with or without its leading "/".
    std::optional<std::string_view> found = m_source.converted_of(given, &several);
    if (!found && (given.empty() || given[0] != '/')) {
      found = m_source.converted_of("/" + std::string(given), &several);
    }
    if (shared != nullptr) *shared = !found && several;
    if (!found) return std::nullopt;
    explanation.m_converted.assign(*found);
    if (!walk(explanation.m_converted, &nodes)) return std::nullopt;
  }
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    NAME_NODE const& node = nodes[i];
    EXPLAINED_LEVEL level;
    level.m_segment = node.m_segment;
    level.m_hierarchy = node.m_hierarchy;
    if (level.m_hierarchy) {
      if (m_source.unit_of(node, &level.m_unit)) {
        level.m_base = m_source.legal_form(level.m_unit);
        level.m_changes = changes_of(level.m_unit, level.m_base);
      }
    } else {
      explain_made_up(node, &level);
    }
    find_suffix(i == 0 ? nullptr : &nodes[i - 1], &level);
    explanation.m_levels.push_back(std::move(level));
  }
  NAME_NODE const& last = nodes.back();
  explanation.m_kind = last.m_kind;
  explanation.m_id = last.m_id;
  explanation.m_original = m_source.original_of(last);
  return explanation;
}

void EXPLAINER::explain_made_up(NAME_NODE const& node, EXPLAINED_LEVEL* level) {
  if (!m_source.made_up_rule(node, &level->m_rule, &level->m_stem)) return;  // superseded
  std::string_view const final_name = node.m_segment;
  std::string_view const rest =
      final_name.substr(std::min(level->m_stem.size(), final_name.size()));
  if (level->m_rule == MADE_UP_RULE::ATOM_NODE) {
    // The prefix, "_" and the converted name of the atom's own node.
    level->m_from = m_source.hierarchy_segment(node.m_id);
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
void EXPLAINER::find_suffix(NAME_NODE const* parent, EXPLAINED_LEVEL* level) {
  std::string_view const final_name(level->m_segment);
  std::string const& base = level->m_base;
  if (base.empty() || final_name == base || final_name.size() <= base.size() + 1 ||
      final_name.substr(0, base.size()) != base || final_name[base.size()] != '_') {
    return;
  }
  std::string_view const digits = final_name.substr(base.size() + 1);
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return;  // not a uniquing suffix the converter could have made
  }
  level->m_suffix = std::stol(std::string(digits));
  // Capture names siblings in the byte order of their unit names, and the
  // netlist's made-up names come after it.
  std::vector<std::pair<std::string, NAME_NODE>> keyed;
  for (long k = -1; k < level->m_suffix; ++k) {
    std::string const taken = k < 0 ? base : base + "_" + std::to_string(k);
    NAME_NODE holder;
    if (!m_source.child(parent, taken, &holder)) continue;
    std::string unit;
    bool const hierarchy = holder.m_hierarchy && m_source.unit_of(holder, &unit);
    keyed.emplace_back(hierarchy ? std::string(1, '\0') + unit : std::string(1, '\1'), holder);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](auto const& a, auto const& b) { return a.first < b.first; });
  for (auto const& entry : keyed) {
    NAME_NODE const& holder = entry.second;
    level->m_holders.push_back({std::string(holder.m_segment), holder.m_id,
                                m_source.original_of(holder), holder.m_hierarchy});
  }
}

// --- The source of a conversion ------------------------------------------------------

namespace {

class CONVERSION_SOURCE final : public NAME_SOURCE {
 public:
  CONVERSION_SOURCE(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
                    std::function<NAME_INDEX const&()> index)
      : m_conversion(conversion),
        m_tree(*conversion.tree()),
        m_originals(originals),
        m_index(std::move(index)) {}

  bool child(NAME_NODE const* parent, std::string_view segment, NAME_NODE* node) override {
    NODE const* const from =
        parent != nullptr ? static_cast<NODE const*>(parent->m_handle) : m_tree.root();
    m_segment.assign(segment);
    NODE const* const found = m_tree.child(from, m_segment);
    if (found == nullptr) return false;
    *node = NAME_NODE{found->m_name,         std::string_view(),         found->m_id,
                      m_tree.kind_of(found), m_tree.in_hierarchy(found), found};
    return true;
  }

  std::optional<std::string_view> converted_of(std::string_view original,
                                               bool* shared) const override {
    return m_index().converted_of(original, shared);
  }

  std::string original_of(NAME_NODE const& node) override {
    HDB_INSTANCE_NAME const* const name = m_originals.find(node.m_id);
    std::string text;
    if (name != nullptr) m_originals.append(&text, name);
    return text;
  }

  bool unit_of(NAME_NODE const& node, std::string* unit) override {
    HDB_INSTANCE_NAME const* const name = m_originals.find(node.m_id);
    if (name == nullptr) return false;
    *unit = name->get_unit_name().get_string();
    return true;
  }

  // A made-up leaf that names an atom (or an oterm) bears the name of the
  // last atom (oterm) with its id, as the converter indexes by id; that row
  // tells the rule. A leaf that names neither is superseded.
  bool made_up_rule(NAME_NODE const& node, MADE_UP_RULE* rule, std::string* stem) override {
    if (!m_indexed) index_made_up_rows();
    bool const atom = node.m_kind == MAP_KIND::ATOM || node.m_kind == MAP_KIND::ATOM_AND_OTERM;
    if (!atom && node.m_kind != MAP_KIND::OTERM) return false;
    ROW const* const row = (atom ? m_last_atom : m_last_oterm).find(node.m_id);
    if (row == nullptr || !row->unit(m_conversion.converter(), &m_unit) ||
        std::string_view(m_unit) != node.m_segment) {
      return false;
    }
    int const type = row->m_atom->get_basic_type();
    if (type < 0 || type >= kZemaAtomTypeCount) return false;
    std::string const prefix = row->is_oterm() ? "w" : std::string(m_tree.type_prefix(type));
    if (node.m_segment.substr(0, prefix.size()) != prefix) return false;
    *stem = prefix;
    *rule = row->is_oterm()                      ? MADE_UP_RULE::OTERM_NUMBER
            : zema_is_node_named_atom_type(type) ? MADE_UP_RULE::ATOM_NODE
                                                 : MADE_UP_RULE::ATOM_NUMBER;
    return true;
  }

  std::string hierarchy_segment(unsigned id) override {
    NODE const* const own = m_tree.hierarchy_node(id);
    return own != nullptr ? own->m_name : "";
  }

  std::string legal_form(std::string const& unit) override {
    return m_tree.legal_form(unit.c_str());
  }

 private:
  // The last atom and the last oterm of each id whose names are made up
  // (atoms of every type but COMB, oterms of COMB atoms): one pass over the
  // netlist, so that a made-up leaf costs a lookup, not a pass.
  void index_made_up_rows() {
    m_indexed = true;
    m_conversion.for_each_row([&](ROW const& row) {
      int const type = row.m_atom->get_basic_type();
      bool const made_up = row.is_oterm() ? zema_is_hierarchy_named_atom_type(type)
                                          : !zema_is_hierarchy_named_atom_type(type);
      if (!made_up) return;
      ID_MAP<ROW>& last = row.is_oterm() ? m_last_oterm : m_last_atom;
      auto const entry = last.emplace(id_of(row.name()), row);
      if (!entry.second) *entry.first = row;
    });
  }

  CONVERSION const& m_conversion;
  FUSION_TREE const& m_tree;
  ORIGINAL_NAMES& m_originals;
  std::function<NAME_INDEX const&()> const m_index;
  std::string m_segment;
  GEN_STRING m_unit;
  bool m_indexed = false;
  ID_MAP<ROW> m_last_atom;
  ID_MAP<ROW> m_last_oterm;
};

}  // namespace

std::unique_ptr<NAME_SOURCE> conversion_source(CONVERSION const& conversion,
                                               ORIGINAL_NAMES& originals,
                                               std::function<NAME_INDEX const&()> index) {
  return std::make_unique<CONVERSION_SOURCE>(conversion, originals, std::move(index));
}

}  // namespace zema_tool
