// TEXT_ARENA: copies of texts that live as long as the arena, in blocks
// that double from 1 MiB to 64 MiB (a text larger than a block gets one of
// its own). Tables keyed by texts keep their keys here: one allocation per
// block, not per text, and texts that are looked up together lie together.
#ifndef TOOLS_SUPPORT_TEXT_ARENA_H
#define TOOLS_SUPPORT_TEXT_ARENA_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "tools/support/huge_pages.h"

namespace zema_tool {

class TEXT_ARENA {
 public:
  // A copy of `text`, valid as long as the arena.
  std::string_view keep(std::string_view text) {
    constexpr std::size_t kFirstBlock = std::size_t{1} << 20;
    constexpr std::size_t kLargestBlock = std::size_t{64} << 20;
    if (text.size() > m_room) {
      m_block_size = std::min(kLargestBlock, m_block_size == 0 ? kFirstBlock : 2 * m_block_size);
      std::size_t const size = std::max(m_block_size, text.size());
      m_blocks.emplace_back(new char[size]);
      m_free = m_blocks.back().get();
      m_room = size;
      // Lookups read the texts at random: huge pages spare them page walks.
      advise_huge_pages(m_free, size);
    }
    if (!text.empty()) std::memcpy(m_free, text.data(), text.size());
    std::string_view const kept(m_free, text.size());
    m_free += text.size();
    m_room -= text.size();
    return kept;
  }

 private:
  std::vector<std::unique_ptr<char[]>> m_blocks;
  char* m_free = nullptr;
  std::size_t m_room = 0;
  std::size_t m_block_size = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_TEXT_ARENA_H
