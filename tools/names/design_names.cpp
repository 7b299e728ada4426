#include "tools/names/design_names.h"

#include <utility>

namespace zema_tool {

DESIGN_NAMES::DESIGN_NAMES(KEPT_PTR<LOADED_DESIGN> design, ZEMA_NAME_CONVERTER_ENUM strategy,
                           PHASES& phases)
    : m_design(std::move(design)) {
  m_conversion = std::make_unique<CONVERSION>(*m_design, strategy, phases);
  m_originals = std::make_unique<ORIGINAL_NAMES>(*m_design);
}

DESIGN_NAMES::DESIGN_NAMES(std::unique_ptr<SAVED_NAMES> saved) : m_saved(std::move(saved)) {}

DESIGN_NAMES::~DESIGN_NAMES() = default;

unsigned DESIGN_NAMES::lookup(std::string const& name, std::string* original) {
  if (m_saved) {
    MAP_ROW const* const row = m_saved->find(name);
    if (row == nullptr || row->m_id == 0) return 0;
    if (row->m_original != nullptr) original->assign(*row->m_original);
    return row->m_id;
  }
  unsigned const id = m_conversion->converter().get_original_name_id(name.c_str());
  HDB_INSTANCE_NAME const* const found = id != 0 ? m_originals->find(id) : nullptr;
  if (found != nullptr) m_originals->append(original, found);
  return id;
}

NAME_INDEX const& DESIGN_NAMES::index(PHASES& phases) {
  if (m_saved) {
    phases.start("index");
    return m_saved->index();
  }
  if (!m_index) {
    phases.start("index");
    m_index = std::make_unique<NAME_INDEX>(*m_conversion, *m_originals);
    CONVERSION::expect_no_reports();
  }
  return *m_index;
}

NAME_SOURCE& DESIGN_NAMES::source(PHASES& phases) {
  if (m_saved) return m_saved->source();
  if (!m_source) m_source = conversion_source(*m_conversion, *m_originals, index(phases));
  return *m_source;
}

}  // namespace zema_tool
