#include "tools/input/cell_types.h"

#include <utility>

namespace zema_tool {
namespace {

// Up to this many pins a scan is faster than hashing the name.
constexpr std::size_t kScannedPins = 8;

}  // namespace

CELL_PINS::CELL_PINS(int atom_type, std::vector<TYPE_PIN> pins)
    : m_atom_type(atom_type), m_pins(std::move(pins)) {
  if (m_pins.size() <= kScannedPins) return;
  m_index.reserve(m_pins.size());
  // The first of two pins with one name is the one found, as by the scan.
  for (std::uint32_t p = 0; p < m_pins.size(); ++p) m_index.emplace(m_pins[p].m_name, p);
}

std::uint32_t CELL_PINS::find(std::string_view name) const {
  if (m_index.empty()) {
    for (std::uint32_t p = 0; p < m_pins.size(); ++p) {
      if (m_pins[p].m_name == name) return p;
    }
    return kNoPin;
  }
  std::uint32_t const* const found = m_index.find(name);
  return found != nullptr ? *found : kNoPin;
}

void CELL_PINS::append_outputs(std::pair<std::uint32_t, std::uint32_t> const* bits,
                               NETLIST* netlist) const {
  for (std::uint32_t p = 0; p < m_pins.size(); ++p) {
    if (m_pins[p].m_direction != PIN_DIRECTION::OUTPUT) continue;
    netlist->m_outputs.push_back({m_pins[p].m_name, bits[p].first, bits[p].second});
  }
}

CELL_PINS const* CELL_TYPES::find(std::string_view name) {
  if (std::uint32_t const* const found = m_types.find(name)) {
    return *found != kNoPin ? &m_pins[*found] : nullptr;
  }
  CELL_TYPE const* const type = m_library != nullptr ? m_library->find(name) : nullptr;
  if (type == nullptr) {
    m_types.emplace(name, kNoPin);
    return nullptr;
  }
  std::vector<TYPE_PIN> list;
  for (CELL_PIN const* pin = m_library->pins_begin(*type); pin != m_library->pins_end(*type);
       ++pin) {
    list.push_back({pin->m_name, pin->m_direction});
  }
  m_pins.emplace_back(type->m_atom_type, std::move(list));
  m_types.emplace(name, static_cast<std::uint32_t>(m_pins.size() - 1));
  return &m_pins.back();
}

CELL_PINS const* CELL_TYPES::add(std::string_view name, int atom_type, std::vector<TYPE_PIN> pins) {
  m_pins.emplace_back(atom_type, std::move(pins));
  std::uint32_t const index = static_cast<std::uint32_t>(m_pins.size() - 1);
  auto const [entry, added] = m_types.emplace(name, index);
  if (!added) *entry = index;
  return &m_pins.back();
}

}  // namespace zema_tool
