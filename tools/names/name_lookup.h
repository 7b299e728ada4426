// NAME_LOOKUP: what a translation looks names up in, and the rules of the
// two sides a name is written on.
//
// A lookup is a table from names as a text writes them on one side (its
// keys) to the names they become on the other (its values), with the facts
// that bound a search: the longest key and the most levels a key has.
// translate looks up through one direction of a NAME_INDEX; a command that
// rewrites a text from one revision's converted names to another's builds a
// table of its own and hands it over in the same form. The translator reads
// the table directly (hash, prefetch, find), so a lookup costs no call
// through an interface.
//
// The two sides:
// - converted names: levels joined by "/", every byte of the legal alphabet
//   (a-z, 0-9, "_", "[", "]");
// - original names, in the map's form (docs/cli.md, "Original names"): a
//   path of the hierarchy starts with "/", a name outside it does not, and a
//   "/" that a backslash escapes is part of a level.
//
// Patterns are matched over the keys, through a sorted view of them that is
// built on the first pattern and kept.
#ifndef TOOLS_NAMES_NAME_LOOKUP_H
#define TOOLS_NAMES_NAME_LOOKUP_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "tools/names/name_index.h"
#include "tools/support/words.h"

namespace zema_tool {

enum class NAME_SIDE { CONVERTED, ORIGINAL };

// The end of every level of `name` but the last (a level boundary: "/";
// on the original side one that no backslash escapes, and not a leading
// one), in order, into *ends; gives the number of levels. Stops counting
// at `most` ends.
std::size_t level_boundaries(std::string_view name, NAME_SIDE side, std::vector<std::size_t>* ends,
                             std::size_t most);
// Whether `level`, one level of a name written on `side`, can be a pin of
// the name before it: a plain identifier (letters, digits and "_", not
// starting with a digit) with an optional bit index "[N]", on either side,
// since a library cell's pins keep their names in a converted netlist (D,
// CK, ZN). Anything else after a name (a second level, a "*", a ".")
// makes the word a name that is not there.
bool fits_pin(std::string_view level, NAME_SIDE side);

// Pattern syntax, as the object queries of timing constraints take it: "*"
// matches any run and "?" any one character, both within one level only;
// a backslash pair of the map's form is one character.
bool is_pattern(std::string_view word);

// How a pattern meets names: as a path, level by level from the top, or
// (-hierarchical) against the last levels of a name at any depth.
enum class PATTERN_SCOPE { PATH, ANY_DEPTH };

class NAME_LOOKUP {
 public:
  // `other_class`: the best values of the other class of keys that name
  // objects of both (NAME_INDEX::other_class()), or none.
  NAME_LOOKUP(TEXT_MAP const& table, NAME_SIDE keys, NAME_SIDE values, std::size_t longest_key,
              std::size_t deepest_key, TEXT_MAP const* other_class = nullptr)
      : m_table(table),
        m_other_class(other_class),
        m_keys(keys),
        m_values(values),
        m_longest_key(longest_key),
        m_deepest_key(deepest_key) {}
  NAME_LOOKUP(NAME_LOOKUP const&) = delete;
  NAME_LOOKUP& operator=(NAME_LOOKUP const&) = delete;

  // One direction of an index: converted names to originals, or back.
  static NAME_LOOKUP of_index(NAME_INDEX const& index, NAME_SIDE to);

  TEXT_MAP const& table() const { return m_table; }
  NAME_SIDE keys() const { return m_keys; }
  NAME_SIDE values() const { return m_values; }
  std::size_t longest_key() const { return m_longest_key; }
  std::size_t deepest_key() const { return m_deepest_key; }

  // What a query of objects of class `wanted` finds in `entry`, which the
  // table gave for its key: the entry itself when its value is of that
  // class or says none, else the key's best value of that class, or null
  // when the key names no such object.
  INDEX_ENTRY const* of_class(INDEX_ENTRY const* entry, OBJECT_CLASS wanted) const {
    if (wanted == CLASS_ANY || entry->m_class == CLASS_ANY || entry->m_class == wanted)
      return entry;
    return of_other_class(entry);
  }

  // Every entry whose key `pattern` matches, in the byte order
  // of keys, into *matches (cleared first). A pattern without a leading "/"
  // meets original paths without theirs, as constraints write them. Only
  // the keys that share the pattern's literal start are tried.
  void match(std::string_view pattern, PATTERN_SCOPE scope,
             std::vector<INDEX_ENTRY const*>* matches) const;

 private:
  INDEX_ENTRY const* of_other_class(INDEX_ENTRY const* entry) const;

  TEXT_MAP const& m_table;
  TEXT_MAP const* m_other_class = nullptr;  // NAME_INDEX::other_class(), for originals
  NAME_SIDE m_keys;
  NAME_SIDE m_values;
  std::size_t m_longest_key;
  std::size_t m_deepest_key;
  // The entries in the byte order of their keys without a
  // leading "/": built on the first pattern.
  mutable std::vector<INDEX_ENTRY const*> m_sorted;
  // Kept between patterns, so that matching allocates only as patterns grow.
  struct SCRATCH {
    std::vector<std::size_t> m_ends;
    std::vector<std::string_view> m_wanted;
    std::vector<std::string_view> m_levels;
  };
  mutable SCRATCH m_scratch;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_NAME_LOOKUP_H
