#include "tools/names/name_index.h"

#include <algorithm>

#include "tools/names/name_map.h"
#include "tools/support/huge_pages.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// Entries keep their texts' sizes in 30 bits.
constexpr std::size_t kLongestName = std::size_t{1} << 30;

}  // namespace

void TEXT_MAP::reserve(std::size_t count) {
  std::size_t capacity = 16;
  while (capacity < 2 * count) capacity *= 2;  // at most half full
  if (capacity <= m_slots.size()) return;
  std::vector<ENTRY> old;
  old.swap(m_slots);
  // Lookups land anywhere in the table: huge pages spare them a page walk
  // each. They are asked for before the first touch.
  m_slots.reserve(capacity);
  advise_huge_pages(m_slots.data(), capacity * sizeof(ENTRY));
  m_slots.assign(capacity, ENTRY{0, nullptr, nullptr, 0, 0, 0, 0});
  m_mask = capacity - 1;
  for (ENTRY const& entry : old) {
    if (entry.m_key == nullptr) continue;
    std::size_t at = entry.m_hash & m_mask;
    while (m_slots[at].m_key != nullptr) at = (at + 1) & m_mask;
    m_slots[at] = entry;
  }
}

TEXT_MAP::ENTRY* TEXT_MAP::insert(std::uint64_t hash, std::string_view key, bool* inserted) {
  if (2 * (m_count + 1) > m_slots.size()) reserve(2 * (m_count + 1));
  for (std::size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
    ENTRY& slot = m_slots[at];
    if (slot.m_key == nullptr) {
      slot = ENTRY{hash, key.data(), nullptr, static_cast<std::uint32_t>(key.size()), 0, 0, 0};
      ++m_count;
      *inserted = true;
      return &slot;
    }
    if (slot.m_hash == hash && slot.key() == key) {
      *inserted = false;
      return &slot;
    }
  }
}

namespace {

constexpr std::uint64_t kOdd0 = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kOdd1 = 0xD6E8FEB86659FD93ull;
constexpr std::uint64_t kOdd2 = 0xA0761D6478BD642Full;

// A full 64 x 64 -> 128-bit product, its halves xored: every input bit
// reaches every output bit.
std::uint64_t fold(std::uint64_t a, std::uint64_t b) {
  unsigned __int128 const product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

std::uint64_t word_at(char const* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, 8);
  return word;
}

// The hash's state after whole blocks of 16 bytes: two lanes of eight bytes
// each, folded independently so that their multiplies overlap.
struct LANES {
  std::uint64_t m_a = kOdd0;
  std::uint64_t m_b = kOdd1;

  void blocks(char const* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, bytes += 16) {
      m_a = fold(m_a ^ word_at(bytes), kOdd0);
      m_b = fold(m_b ^ word_at(bytes + 8), kOdd1);
    }
  }
  // The hash of a text of `size` bytes whose last size % 16 bytes start at
  // `tail` and whose whole blocks these lanes have taken.
  std::uint64_t finish(char const* tail, std::size_t size) const {
    char padded[16] = {};
    std::memcpy(padded, tail, size % 16);
    return fold(m_a ^ word_at(padded) ^ size, kOdd2) ^ fold(m_b ^ word_at(padded + 8), kOdd0);
  }
};

}  // namespace

std::uint64_t NAME_INDEX::hash(std::string_view text) {
  LANES lanes;
  lanes.blocks(text.data(), text.size() / 16);
  return lanes.finish(text.data() + text.size() / 16 * 16, text.size());
}

void NAME_INDEX::hash_with_prefix(std::string_view text, std::size_t prefix, std::uint64_t* whole,
                                  std::uint64_t* of_prefix) {
  LANES lanes;
  std::size_t const shared = prefix / 16;
  lanes.blocks(text.data(), shared);
  *of_prefix = lanes.finish(text.data() + shared * 16, prefix);
  lanes.blocks(text.data() + shared * 16, text.size() / 16 - shared);
  *whole = lanes.finish(text.data() + text.size() / 16 * 16, text.size());
}

NAME_INDEX::NAME_INDEX(CONVERSION const& conversion, ORIGINAL_NAMES& originals) {
  LOADED_DESIGN const& design = conversion.design();
  // About one oterm an atom.
  std::size_t const expected = design.m_instance_count + 2 * design.m_atom_count;
  m_to_original.reserve(expected);
  m_to_converted.reserve(expected);
  for_each_map_row(conversion, originals, [&](MAP_ROW const& row) {
    // Under reversible, names outside the hierarchy have no full name.
    if (!row.names_something() || row.m_original == nullptr || row.m_converted.empty()) return;
    if (row.m_original->size() >= kLongestName || row.m_converted.size() >= kLongestName) {
      throw TOOL_ERROR("id " + decimal(row.m_id), "a name of a gibibyte or more cannot be indexed");
    }
    bool inserted;
    TEXT_MAP::ENTRY* const forward =
        m_to_original.insert(hash(row.m_converted), row.m_converted, &inserted);
    if (!inserted) return;  // reversible: an atom's name twice
    std::string_view const converted = keep(row.m_converted);
    forward->m_key = converted.data();
    bool const hierarchy = row.m_origin[0] == 'h';
    TEXT_MAP::ENTRY* const reverse =
        m_to_converted.insert(hash(*row.m_original), *row.m_original, &inserted);
    if (inserted) {
      // A new original: its text is kept once, for both tables.
      reverse->m_key = keep(*row.m_original).data();
    }
    if (inserted || (hierarchy && !reverse->m_hierarchy)) {
      reverse->m_value = converted.data();
      reverse->m_value_size = static_cast<std::uint32_t>(converted.size());
      reverse->m_hierarchy = hierarchy;
      reverse->m_ambiguous = false;
    } else if (!reverse->m_hierarchy) {
      reverse->m_ambiguous = true;
    }
    forward->m_value = reverse->m_key;
    forward->m_value_size = reverse->m_key_size;
    m_longest_original = std::max(m_longest_original, row.m_original->size());
    m_longest_converted = std::max(m_longest_converted, converted.size());
  });
}

std::optional<std::string_view> NAME_INDEX::converted_of(std::string_view original) const {
  TEXT_MAP::ENTRY const* const entry = m_to_converted.find(hash(original), original);
  if (entry == nullptr || entry->m_ambiguous) return std::nullopt;
  return entry->value();
}

// Texts go into blocks that double from 1 MiB to 64 MiB, the large ones on
// huge pages: a report's lookups read them at random.
std::string_view NAME_INDEX::keep(std::string_view text) {
  constexpr std::size_t kFirstBlock = std::size_t{1} << 20;
  constexpr std::size_t kLargestBlock = std::size_t{64} << 20;
  if (text.size() > m_room) {
    m_block_size = std::min(kLargestBlock, m_block_size == 0 ? kFirstBlock : 2 * m_block_size);
    std::size_t const size = std::max(m_block_size, text.size());
    m_blocks.emplace_back(new char[size]);
    m_free = m_blocks.back().get();
    m_room = size;
    advise_huge_pages(m_free, size);
  }
  if (!text.empty()) std::memcpy(m_free, text.data(), text.size());
  std::string_view const kept(m_free, text.size());
  m_free += text.size();
  m_room -= text.size();
  return kept;
}

}  // namespace zema_tool
