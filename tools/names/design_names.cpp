#include "tools/names/design_names.h"

#include <utility>

namespace zema_tool {

DESIGN_NAMES::DESIGN_NAMES(KEPT_PTR<LOADED_DESIGN> design, ZEMA_NAME_CONVERTER_ENUM strategy,
                           PHASES& phases)
    : m_design(std::move(design)) {
  m_own_conversion = std::make_unique<CONVERSION>(*m_design, strategy, phases);
  m_own_originals = std::make_unique<ORIGINAL_NAMES>(*m_design);
  m_conversion = m_own_conversion.get();
  m_originals = m_own_originals.get();
}

DESIGN_NAMES::DESIGN_NAMES(std::unique_ptr<SAVED_NAMES> saved) : m_saved(std::move(saved)) {}

DESIGN_NAMES::DESIGN_NAMES(CONVERSION const& conversion, ORIGINAL_NAMES& originals)
    : m_conversion(&conversion), m_originals(&originals) {}

DESIGN_NAMES::~DESIGN_NAMES() = default;

void DESIGN_NAMES::free_now(std::unique_ptr<DESIGN_NAMES> names) {
  // What refers to the conversion goes first, the design last.
  names->m_index.reset();
  names->m_source.reset();
  names->m_own_originals.reset();
  if (names->m_own_conversion) names->m_own_conversion->free_now();
  names->m_own_conversion.reset();
  std::unique_ptr<LOADED_DESIGN> const design(names->m_design.release());
}

unsigned DESIGN_NAMES::lookup(std::string const& name, std::string* original) {
  if (m_saved) {
    SAVED_NAME const* const row = m_saved->find(name);
    if (row == nullptr || row->m_id == 0) return 0;
    if (row->m_has_original) original->assign(row->m_original, row->m_original_size);
    return row->m_id;
  }
  unsigned const id = m_conversion->converter().get_original_name_id(name.c_str());
  HDB_INSTANCE_NAME const* const found = id != 0 ? m_originals->find(id) : nullptr;
  if (found != nullptr) m_originals->append(original, found);
  return id;
}

void DESIGN_NAMES::for_each_row(std::function<void(MAP_ROW const&)> const& visit) {
  if (m_saved) {
    for (SAVED_NAME const& row : m_saved->rows()) visit(row.row());
    return;
  }
  for_each_map_row(*m_conversion, *m_originals, visit);
}

NAME_INDEX const& DESIGN_NAMES::index(PHASES& phases, INDEX_SIDES sides) {
  if (m_saved) {
    phases.start("index");
    return m_saved->index(sides);
  }
  if (!m_index || !m_index->has(sides)) {
    phases.start("index");
    m_index =
        std::make_unique<NAME_INDEX>(*m_conversion, *m_originals, m_index ? BOTH_SIDES : sides);
    CONVERSION::expect_no_reports();
  }
  return *m_index;
}

NAME_SOURCE& DESIGN_NAMES::source(PHASES& phases) {
  if (m_saved) return m_saved->source();
  if (!m_source) {
    // The index only when an original name is to be explained.
    m_source = conversion_source(
        *m_conversion, *m_originals,
        [this, &phases]() -> NAME_INDEX const& { return index(phases, TO_CONVERTED); });
  }
  return *m_source;
}

}  // namespace zema_tool
