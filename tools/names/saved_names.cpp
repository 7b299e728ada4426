#include "tools/names/saved_names.h"

#include <utility>

#include "atm/zema/zema_naming_rules.h"
#include "host/zema_host.h"
#include "tools/names/fusion_tree.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// The tree of a saved fusion map: a node is a row, found by its converted
// full name.
class MAP_SOURCE final : public NAME_SOURCE {
 public:
  explicit MAP_SOURCE(SAVED_NAMES& names)
      : m_names(names), m_converter(ZEMA_NAME_CONVERTER_FUSION), m_tree(m_converter) {
    for (SAVED_NAME const& row : names.rows()) {
      if (row.m_origin == ORIGIN::HIERARCHY) m_hierarchy.emplace(row.m_id, &row);
    }
  }

  bool child(NAME_NODE const* parent, std::string_view segment, NAME_NODE* node) override {
    m_path.clear();
    if (parent != nullptr) {
      m_path.assign(parent->m_path);
      m_path.push_back('/');
    }
    m_path.append(segment);
    SAVED_NAME const* const row = m_names.find(m_path);
    if (row == nullptr) return false;
    std::string_view const converted(row->m_converted, row->m_converted_size);
    std::size_t const slash = converted.rfind('/');
    *node = NAME_NODE{slash == std::string_view::npos ? converted : converted.substr(slash + 1),
                      converted,
                      row->m_id,
                      row->m_kind,
                      row->m_origin == ORIGIN::HIERARCHY,
                      row};
    return true;
  }

  std::optional<std::string_view> converted_of(std::string_view original,
                                               bool* shared) const override {
    return m_names.index(TO_CONVERTED).converted_of(original, shared);
  }

  std::string original_of(NAME_NODE const& node) override {
    SAVED_NAME const& row = *static_cast<SAVED_NAME const*>(node.m_handle);
    return row.m_has_original ? std::string(row.m_original, row.m_original_size) : std::string();
  }

  // The last level of the original path, its escapes undone and its repeat
  // number dropped.
  bool unit_of(NAME_NODE const& node, std::string* unit) override {
    SAVED_NAME const& row = *static_cast<SAVED_NAME const*>(node.m_handle);
    if (!row.m_has_original) return false;
    std::string_view const original(row.m_original, row.m_original_size);
    // The last "/" that no backslash escapes starts the last level.
    std::size_t start = 0;
    for (std::size_t i = 0; i < original.size(); ++i) {
      if (original[i] == '\\') {
        ++i;
      } else if (original[i] == '/') {
        start = i + 1;
      }
    }
    std::size_t position = start;
    unsigned rank;
    return zema_host::parse_unambiguous_level(original, &position, unit, &rank);
  }

  // A made-up atom name is its type's prefix and a number, or for the
  // types named after their node, the prefix, "_" and the node's name; an
  // oterm's is "w" and a number. The map says which of atom and oterm.
  bool made_up_rule(NAME_NODE const& node, MADE_UP_RULE* rule, std::string* stem) override {
    if (node.m_kind == MAP_KIND::SUPERSEDED) return false;
    if (node.m_kind == MAP_KIND::OTERM) {
      *stem = "w";
      *rule = MADE_UP_RULE::OTERM_NUMBER;
      return true;
    }
    std::string_view const name = node.m_segment;
    int best = -1;
    std::size_t best_length = 0;
    for (int type = 0; type < kZemaAtomTypeCount; ++type) {
      std::string_view const prefix = m_tree.type_prefix(type);
      if (prefix.size() <= best_length || name.substr(0, prefix.size()) != prefix) continue;
      bool const fits = zema_is_node_named_atom_type(type)
                            ? name.size() > prefix.size() && name[prefix.size()] == '_'
                            : name.size() > prefix.size() && name[prefix.size()] >= '0' &&
                                  name[prefix.size()] <= '9';
      if (!fits) continue;
      best = type;
      best_length = prefix.size();
    }
    if (best < 0) return false;
    *stem = std::string(m_tree.type_prefix(best));
    *rule =
        zema_is_node_named_atom_type(best) ? MADE_UP_RULE::ATOM_NODE : MADE_UP_RULE::ATOM_NUMBER;
    return true;
  }

  std::string hierarchy_segment(unsigned id) override {
    SAVED_NAME const* const* const row = m_hierarchy.find(id);
    if (row == nullptr) return std::string();
    std::string_view const converted((*row)->m_converted, (*row)->m_converted_size);
    std::size_t const slash = converted.rfind('/');
    return std::string(slash == std::string_view::npos ? converted : converted.substr(slash + 1));
  }

  std::string legal_form(std::string const& unit) override {
    return m_tree.legal_form(unit.c_str());
  }

 private:
  SAVED_NAMES& m_names;
  // A converter never given a design: its legal forms and type prefixes
  // are the converter's own.
  ZEMA_NAME_CONVERTER m_converter;
  FUSION_TREE m_tree;
  ID_MAP<SAVED_NAME const*> m_hierarchy;  // the hierarchy's rows by id
  std::string m_path;
};

}  // namespace

SAVED_NAMES::SAVED_NAMES(std::string const& path, std::uint64_t max_size, std::uint64_t max_rows) {
  m_map.read(path, max_size, max_rows, [this](SAVED_ROW const& row) { add(row); });
}

SAVED_NAMES::SAVED_NAMES(INPUT_TEXT text, std::uint64_t max_rows) {
  m_map.parse(std::move(text), max_rows, [this](SAVED_ROW const& row) { add(row); });
}

SAVED_NAMES::~SAVED_NAMES() = default;

void SAVED_NAMES::add(SAVED_ROW const& row) {
  if (m_rows.empty()) m_rows.reserve(m_map.expected_rows());
  std::optional<MAP_KIND> const kind = value_of(kMapKindWords, row.m_kind);
  std::optional<ORIGIN> const origin = value_of(kOriginWords, row.m_origin);
  auto const place = [&] { return m_map.place_of(row); };
  if (!kind) {
    throw TOOL_ERROR(place(), "unknown kind " + quoted_text(row.m_kind) + " (expected " +
                                  word_choices(kMapKindWords) + ")");
  }
  if (!origin) {
    throw TOOL_ERROR(place(), "unknown origin " + quoted_text(row.m_origin) + " (expected " +
                                  word_choices(kOriginWords) + ")");
  }
  if (row.m_converted.size() > UINT32_MAX || row.m_original.size() > UINT32_MAX) {
    throw TOOL_ERROR(place(), "a name of four gibibytes or more");
  }
  m_reversible = m_reversible || *origin == ORIGIN::OUTSIDE;
  m_rows.push_back(SAVED_NAME{row.m_converted.data(), row.m_original.data(),
                              static_cast<std::uint32_t>(row.m_converted.size()),
                              static_cast<std::uint32_t>(row.m_original.size()), row.m_id, *kind,
                              *origin, row.m_has_original});
}

SAVED_NAME const* SAVED_NAMES::find(std::string_view name) {
  if (m_by_converted.empty() && !m_rows.empty()) {
    m_by_converted.reserve(m_rows.size());
    for (std::uint32_t i = 0; i < m_rows.size(); ++i) {
      std::string_view const converted(m_rows[i].m_converted, m_rows[i].m_converted_size);
      if (converted.empty()) continue;
      // As the converters answer: a name of two rows names the later one.
      auto const entry = m_by_converted.emplace(converted, i);
      if (!entry.second) *entry.first = i;
    }
  }
  if (!name.empty() && name[0] == '\\') name.remove_prefix(1);
  std::uint32_t const* const row = m_by_converted.find(name);
  return row != nullptr ? &m_rows[*row] : nullptr;
}

NAME_INDEX const& SAVED_NAMES::index(INDEX_SIDES sides) {
  if (!m_index || !m_index->has(sides)) {
    INDEX_SIDES const all = m_index ? BOTH_SIDES : sides;
    m_index = std::make_unique<NAME_INDEX>(all, m_rows.size());
    m_index->add_all(m_rows);
  }
  return *m_index;
}

NAME_SOURCE& SAVED_NAMES::source() {
  if (m_reversible) {
    throw TOOL_ERROR(name(),
                     "explain needs the map of the fusion strategy; this one is "
                     "the reversible strategy's");
  }
  if (!m_source) m_source = std::make_unique<MAP_SOURCE>(*this);
  return *m_source;
}

}  // namespace zema_tool
