#include "tools/commands/name_index.h"

#include <algorithm>
#include <cstring>

#include "tools/commands/name_map.h"

namespace zema_tool {

NAME_INDEX::NAME_INDEX(CONVERSION const& conversion, ORIGINAL_NAMES& originals) {
  LOADED_DESIGN const& design = conversion.design();
  // About one oterm an atom.
  std::size_t const expected = design.m_instance_count + 2 * design.m_atom_count;
  m_to_original.reserve(expected);
  m_to_converted.reserve(expected);
  for_each_map_row(conversion, originals, [&](MAP_ROW const& row) {
    // Under reversible, names outside the hierarchy have no full name.
    if (!row.names_something() || row.m_original == nullptr || row.m_converted.empty()) return;
    std::string_view const converted = keep(row.m_converted);
    auto const original = m_to_original.emplace(converted, std::string_view());
    if (!original.second) return;  // reversible: an atom's name twice
    bool const hierarchy = row.m_origin[0] == 'h';
    auto const reverse =
        m_to_converted.emplace(*row.m_original, CONVERTED{converted, hierarchy, false});
    CONVERTED& known = reverse.first->second;
    if (reverse.second) {
      // A new original: keep its text once, for both tables.
      const_cast<std::string_view&>(reverse.first->first) = keep(*row.m_original);
    } else if (hierarchy) {
      known = CONVERTED{converted, true, false};
    } else if (!known.m_hierarchy) {
      known.m_ambiguous = true;
    }
    original.first->second = reverse.first->first;
    m_longest_original = std::max(m_longest_original, row.m_original->size());
    m_longest_converted = std::max(m_longest_converted, converted.size());
  });
}

std::string_view NAME_INDEX::keep(std::string_view text) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  if (text.size() > m_room) {
    std::size_t const size = std::max(kBlock, text.size());
    m_blocks.push_back(std::make_unique<char[]>(size));
    m_free = m_blocks.back().get();
    m_room = size;
  }
  if (!text.empty()) std::memcpy(m_free, text.data(), text.size());
  std::string_view const kept(m_free, text.size());
  m_free += text.size();
  m_room -= text.size();
  return kept;
}

}  // namespace zema_tool
