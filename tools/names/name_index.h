// NAME_INDEX: converted full names and original names, each to the other,
// from the rows of the name map that name something. translate rewrites
// text through it and explain resolves the names it is given.
//
// A report holds millions of names, each looked up at random in tables far
// larger than the caches, so the index is built for lookups that are
// prepared ahead: a caller hashes a text with hash(), prefetches its slot,
// and looks it up some names later, when the slot has arrived.
#ifndef TOOLS_NAMES_NAME_INDEX_H
#define TOOLS_NAMES_NAME_INDEX_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "tools/names/conversion.h"
#include "tools/names/name_map.h"
#include "tools/names/original_names.h"
#include "tools/support/hash_table.h"
#include "tools/support/text_arena.h"

namespace zema_tool {

// What a migration says of an old name besides its new one.
enum INDEX_NOTE : std::uint32_t {
  NOTE_NONE = 0,
  NOTE_GONE = 1,    // its object is not in the new revision: the name stays, reported
  NOTE_MOVED = 2,   // it names another object now: rewritten to its object's new name, reported
  NOTE_GUESSED = 3  // its object shares its original: its new name a guess by order, reported
};

// Entries keep their texts' sizes in 28 bits: longer names are refused.
constexpr std::size_t kLongestIndexedName = std::size_t{1} << 28;

// An entry of the index: a text and the text it translates to, both kept by
// the index.
struct INDEX_ENTRY {
  std::uint64_t m_hash;
  char const* m_key;
  char const* m_value;
  std::uint32_t m_key_size : 28;
  std::uint32_t m_class : 2;  // OBJECT_CLASS of the value where the keys are originals
  // A migration's word on the name (INDEX_NOTE): what the translation also
  // reports.
  std::uint32_t m_note : 2;
  std::uint32_t m_value_size : 29;
  std::uint32_t m_rank : 2;       // the value's rank among those sharing the key (name_index.cpp)
  std::uint32_t m_ambiguous : 1;  // several values of the highest rank

  std::string_view key() const { return std::string_view(m_key, m_key_size); }
  std::string_view value() const { return std::string_view(m_value, m_value_size); }
  bool has_key(std::string_view key) const {
    return key.size() == m_key_size && std::memcmp(m_key, key.data(), key.size()) == 0;
  }
};

typedef HASH_TABLE<INDEX_ENTRY> TEXT_MAP;

// Once the slot of `hash` has arrived (TEXT_MAP::prefetch): fetches the key
// and value texts of the entry there when its hash is `hash`, as it is for
// most lookups.
void prefetch_entry_texts(TEXT_MAP const& map, std::uint64_t hash);

// Which of the index's two tables to build: a translation needs one.
enum INDEX_SIDES : unsigned { TO_ORIGINAL = 1, TO_CONVERTED = 2, BOTH_SIDES = 3 };

class NAME_INDEX {
 public:
  // The index of a conversion's map: its texts are copied into the index.
  NAME_INDEX(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
             INDEX_SIDES sides = BOTH_SIDES);
  // An empty index of `sides`, for add() to fill with the rows of a map
  // whose texts outlive it.
  NAME_INDEX(INDEX_SIDES sides, std::size_t rows);
  // Enters a row of the map; its texts are copied when `keep`, else they
  // must outlive the index.
  void add(MAP_ROW const& row, bool keep) { add(row, keep, hash_keys(row)); }
  // Enters all of `rows` (each gives a MAP_ROW through row()), whose texts
  // outlive the index. The tables are far larger than the caches: each
  // row's slots are fetched some rows ahead of its insertion.
  template <class ROWS>
  void add_all(ROWS const& rows);

  // Whether the index has the table of `sides`.
  bool has(INDEX_SIDES sides) const { return (m_sides & sides) == sides; }
  NAME_INDEX(NAME_INDEX const&) = delete;
  NAME_INDEX& operator=(NAME_INDEX const&) = delete;

  // The hash that the lookups below take with their text.
  static std::uint64_t hash(std::string_view text);
  // The hashes of `text` and of its first `prefix` bytes (prefix <=
  // text.size()), as hash() gives them, in one pass.
  static void hash_with_prefix(std::string_view text, std::size_t prefix, std::uint64_t* whole,
                               std::uint64_t* of_prefix);

  // Converted full names (levels joined by "/") to their original names in
  // the map's form.
  TEXT_MAP const& to_original() const { return m_to_original; }
  // Original names to converted full names. Where several converted names
  // share an original (an instance and the made-up name of its own atom),
  // the value is the one that names an object of the netlist: a node of the
  // hierarchy that names an atom or oterm, else the made-up name of an atom,
  // else that of an oterm, else the instance. So a report's atoms and oterms go back to the names
  // they came from, and a constraint on a cell (get_cells /u/ff) reaches the atom that is the cell
  // in the converted netlist. Made-up names that share an original and nothing better
  // (free-standing names of a design file) make the entry ambiguous.
  TEXT_MAP const& to_converted() const { return m_to_converted; }
  // For the originals that name objects of both classes: the best value of
  // the class that to_converted()'s value is not of, by the same ranks. So
  // a query of nets reaches the oterms that share an original with an atom
  // (an open output named after its pin), and one of cells the atom.
  TEXT_MAP const& other_class() const { return m_other_class; }

  // The converted full name of an original that names one unambiguously.
  // *shared (when given) says whether the original names several objects,
  // none of which comes first.
  std::optional<std::string_view> converted_of(std::string_view original,
                                               bool* shared = nullptr) const;

  // The longest name of each kind, in bytes, and the most levels a name of
  // each kind has (at most its "/" and one).
  std::size_t longest_original() const { return m_longest_original; }
  std::size_t longest_converted() const { return m_longest_converted; }
  std::size_t deepest_original() const { return m_deepest_original; }
  std::size_t deepest_converted() const { return m_deepest_converted; }

 private:
  // The hashes of a row's converted and original names.
  struct KEYS {
    std::uint64_t m_converted;
    std::uint64_t m_original;
  };
  KEYS hash_keys(MAP_ROW const& row) const {
    KEYS keys{0, 0};
    if (!row.names_something() || !row.m_original || row.m_converted.empty()) return keys;
    if ((m_sides & TO_ORIGINAL) != 0) keys.m_converted = hash(row.m_converted);
    if ((m_sides & TO_CONVERTED) != 0) keys.m_original = hash(*row.m_original);
    return keys;
  }
  void add(MAP_ROW const& row, bool keep, KEYS const& keys);
  void offer(INDEX_ENTRY* reverse, bool inserted, std::uint64_t hash, std::string_view original,
             std::string_view converted, MAP_ROW const& row);
  void reserve(std::size_t rows);

  unsigned m_sides;
  TEXT_MAP m_to_original;
  TEXT_MAP m_to_converted;
  TEXT_MAP m_other_class;
  TEXT_ARENA m_texts;
  std::size_t m_longest_original = 0;
  std::size_t m_longest_converted = 0;
  std::size_t m_deepest_original = 0;
  std::size_t m_deepest_converted = 0;
};

template <class ROWS>
void NAME_INDEX::add_all(ROWS const& rows) {
  constexpr std::size_t kAhead = 16;  // a power of two
  KEYS ahead[kAhead];
  std::size_t const count = rows.size();
  auto const prepare = [&](std::size_t i) {
    KEYS const keys = hash_keys(rows[i].row());
    if (keys.m_converted != 0) m_to_original.prefetch(keys.m_converted);
    if (keys.m_original != 0) m_to_converted.prefetch(keys.m_original);
    ahead[i % kAhead] = keys;
  };
  for (std::size_t i = 0; i < count && i < kAhead; ++i) prepare(i);
  for (std::size_t i = 0; i < count; ++i) {
    KEYS const keys = ahead[i % kAhead];
    if (i + kAhead < count) prepare(i + kAhead);
    add(rows[i].row(), false, keys);
  }
}

}  // namespace zema_tool

#endif  // TOOLS_NAMES_NAME_INDEX_H
