#include "tools/names/name_index.h"

#include <algorithm>

#include "tools/names/name_map.h"
#include "tools/support/huge_pages.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// Every cache line of `size` bytes from `text`.
void prefetch_text(char const* text, std::size_t size) {
  constexpr std::size_t kLine = 64;
  // From the line that holds the first byte to the one that holds the last.
  std::size_t const into_line = reinterpret_cast<std::uintptr_t>(text) % kLine;
  for (std::size_t at = 0; at < into_line + size; at += kLine) {
    __builtin_prefetch(text - into_line + at);
  }
}

}  // namespace

void prefetch_entry_texts(TEXT_MAP const& map, std::uint64_t hash) {
  INDEX_ENTRY const* const slot = map.first_slot(hash);
  if (slot != nullptr && slot->m_hash == hash) {
    prefetch_text(slot->m_key, slot->m_key_size);
    prefetch_text(slot->m_value, slot->m_value_size);
  }
}

std::uint64_t NAME_INDEX::hash(std::string_view text) { return hash_of(text); }

void NAME_INDEX::hash_with_prefix(std::string_view text, std::size_t prefix, std::uint64_t* whole,
                                  std::uint64_t* of_prefix) {
  typedef zema_host::TEXT_HASH HASH;
  HASH state;
  std::size_t const shared = prefix / HASH::kBlock;
  state.blocks(text.data(), shared);
  *of_prefix = state.finish(text.data() + shared * HASH::kBlock, prefix);
  state.blocks(text.data() + shared * HASH::kBlock, text.size() / HASH::kBlock - shared);
  *whole = state.finish(text.data() + text.size() / HASH::kBlock * HASH::kBlock, text.size());
}

NAME_INDEX::NAME_INDEX(CONVERSION const& conversion, ORIGINAL_NAMES& originals, INDEX_SIDES sides)
    : m_sides(sides) {
  LOADED_DESIGN const& design = conversion.design();
  // About one oterm an atom.
  reserve(design.m_instance_count + 2 * design.m_atom_count);
  for_each_map_row(conversion, originals, [&](MAP_ROW const& row) { add(row, true); });
}

NAME_INDEX::NAME_INDEX(INDEX_SIDES sides, std::size_t rows) : m_sides(sides) { reserve(rows); }

void NAME_INDEX::reserve(std::size_t rows) {
  if ((m_sides & TO_ORIGINAL) != 0) m_to_original.reserve(rows);
  if ((m_sides & TO_CONVERTED) != 0) m_to_converted.reserve(rows);
}

namespace {

// Makes `row`'s converted name the value of `entry`, alone of its rank.
void take_value(INDEX_ENTRY* entry, std::string_view converted, MAP_ROW const& row) {
  entry->m_value = converted.data();
  entry->m_value_size = static_cast<std::uint32_t>(converted.size());
  entry->m_rank = row.rank();
  entry->m_class = row.object_class();
  entry->m_ambiguous = false;
}

}  // namespace

// Enters `row`'s converted name as a value of `original` (whose entry is
// `reverse`, just inserted or not): the best of each class by rank, the
// main entry's class the best overall.
void NAME_INDEX::offer(INDEX_ENTRY* reverse, bool inserted, std::uint64_t hash,
                       std::string_view original, std::string_view converted, MAP_ROW const& row) {
  unsigned const rank = row.rank();
  if (!inserted && row.object_class() != reverse->m_class) {
    // Of the best of each class, the lower-ranked one is kept beside.
    bool fresh = false;
    INDEX_ENTRY* const other = m_other_class.insert(hash, original, &fresh);
    if (fresh) {
      other->m_key = original.data();
      other->m_key_size = static_cast<std::uint32_t>(original.size());
    }
    if (rank > reverse->m_rank) {
      // The old best goes beside: it is the best of its class so far.
      *other = *reverse;
      take_value(reverse, converted, row);
      return;
    }
    // Two names of the highest rank leave the original ambiguous to a query
    // of any object, whatever their classes. (Under reversible, an atom and
    // its oterm can bear one name: that is no second name.)
    if (rank == reverse->m_rank && converted != reverse->value()) reverse->m_ambiguous = true;
    if (fresh || rank > other->m_rank) {
      take_value(other, converted, row);
    } else if (rank == other->m_rank && converted != other->value()) {
      other->m_ambiguous = true;
    }
  } else if (inserted || rank > reverse->m_rank) {
    take_value(reverse, converted, row);
  } else if (rank == reverse->m_rank && converted != reverse->value()) {
    reverse->m_ambiguous = true;
  }
}

void NAME_INDEX::add(MAP_ROW const& row, bool keep, KEYS const& keys) {
  // Under reversible, names outside the hierarchy have no full name.
  if (!row.names_something() || !row.m_original || row.m_converted.empty()) return;
  std::string_view const original_given = *row.m_original;
  if (original_given.size() >= kLongestIndexedName ||
      row.m_converted.size() >= kLongestIndexedName) {
    throw TOOL_ERROR("id " + decimal(row.m_id), "a name of 256 MiB or more cannot be indexed");
  }
  bool inserted = true;
  INDEX_ENTRY* forward = nullptr;
  if ((m_sides & TO_ORIGINAL) != 0) {
    forward = m_to_original.insert(keys.m_converted, row.m_converted, &inserted);
    if (!inserted) return;  // reversible: an atom's name twice
  }
  std::string_view const converted = keep ? m_texts.keep(row.m_converted) : row.m_converted;
  std::string_view original = original_given;
  if ((m_sides & TO_CONVERTED) != 0) {
    INDEX_ENTRY* const reverse = m_to_converted.insert(keys.m_original, original_given, &inserted);
    if (inserted) {
      // A new original: its text is kept once, for both tables.
      original = keep ? m_texts.keep(original_given) : original_given;
      reverse->m_key = original.data();
      reverse->m_key_size = static_cast<std::uint32_t>(original.size());
    } else {
      original = reverse->key();
    }
    offer(reverse, inserted, keys.m_original, original, converted, row);
  } else if (keep) {
    original = m_texts.keep(original_given);
  }
  if (forward != nullptr) {
    forward->m_key = converted.data();
    forward->m_key_size = static_cast<std::uint32_t>(converted.size());
    forward->m_value = original.data();
    forward->m_value_size = static_cast<std::uint32_t>(original.size());
  }
  m_longest_original = std::max(m_longest_original, original.size());
  m_longest_converted = std::max(m_longest_converted, converted.size());
  auto const levels = [](std::string_view name) {
    return static_cast<std::size_t>(std::count(name.begin(), name.end(), '/')) + 1;
  };
  m_deepest_original = std::max(m_deepest_original, levels(original));
  m_deepest_converted = std::max(m_deepest_converted, levels(converted));
}

std::optional<std::string_view> NAME_INDEX::converted_of(std::string_view original,
                                                         bool* shared) const {
  INDEX_ENTRY const* const entry = m_to_converted.find(hash(original), original);
  if (shared != nullptr) *shared = *shared || (entry != nullptr && entry->m_ambiguous);
  if (entry == nullptr || entry->m_ambiguous) return std::nullopt;
  return entry->value();
}

}  // namespace zema_tool
