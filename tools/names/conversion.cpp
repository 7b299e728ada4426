#include "tools/names/conversion.h"

#include <vector>

#include "host/zema_host.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {

std::string ROW::label() const {
  return (is_oterm() ? "oterm " : "atom ") + row_index(m_atom_index, m_position);
}

CONVERSION::CONVERSION(LOADED_DESIGN& design, ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases)
    : m_design(design) {
  phases.start("init");
  m_converter.reset(new ZEMA_NAME_CONVERTER(strategy));
  m_converter->init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  if (strategy == ZEMA_NAME_CONVERTER_FUSION) m_tree.reset(new FUSION_TREE(*m_converter));
}

void CONVERSION::free_now() {
  m_tree.reset();
  std::unique_ptr<ZEMA_NAME_CONVERTER> const converter(m_converter.release());
}

void CONVERSION::expect_no_reports() {
  std::vector<zema_host::INTERNAL_ERROR> const& reports = zema_host::internal_errors();
  if (reports.empty()) return;
  zema_host::INTERNAL_ERROR const& first = reports.front();
  throw INTERNAL_FAILURE(
      "the converter reported a broken invariant: " + quoted_text(first.condition) + " in module " +
      first.module + " at " + first.file + ":" + decimal(static_cast<std::uint64_t>(first.line)));
}

}  // namespace zema_tool
