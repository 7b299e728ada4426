// NAME_INDEX: converted full names and original names, each to the other,
// from the rows of the name map that name something. translate rewrites
// text through it and explain resolves the names it is given.
#ifndef TOOLS_COMMANDS_NAME_INDEX_H
#define TOOLS_COMMANDS_NAME_INDEX_H

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "tools/commands/conversion.h"
#include "tools/commands/original_names.h"

namespace zema_tool {

class NAME_INDEX {
 public:
  NAME_INDEX(CONVERSION const& conversion, ORIGINAL_NAMES& originals);
  NAME_INDEX(NAME_INDEX const&) = delete;
  NAME_INDEX& operator=(NAME_INDEX const&) = delete;

  // The original name, in the map's form, of a converted full name whose
  // levels are joined by "/"; null when it names nothing.
  std::string_view const* original_of(std::string_view converted) const {
    auto const found = m_to_original.find(converted);
    return found != m_to_original.end() ? &found->second : nullptr;
  }

  // The converted full name of an original name in the map's form; null
  // when it names nothing or is ambiguous. Where several converted names
  // share an original, the one the hierarchy named wins: an instance over
  // the made-up names of its atom and oterms, as a path from the root is what
  // a designer writes. Made-up names that share an original outside the
  // hierarchy (one cell name in two instances of a module) are ambiguous.
  std::string_view const* converted_of(std::string_view original) const {
    auto const found = m_to_converted.find(original);
    return found != m_to_converted.end() && !found->second.m_ambiguous ? &found->second.m_name
                                                                       : nullptr;
  }

  // Whether `original` names anything, ambiguous or not.
  bool knows_original(std::string_view original) const {
    return m_to_converted.find(original) != m_to_converted.end();
  }

  // The longest original name among the index's, in bytes.
  std::size_t longest_original() const { return m_longest_original; }
  std::size_t longest_converted() const { return m_longest_converted; }

 private:
  struct CONVERTED {
    std::string_view m_name;
    bool m_hierarchy;  // the hierarchy named it
    bool m_ambiguous;  // several made-up names, none from the hierarchy
  };

  // A copy of `text` that lives as long as the index.
  std::string_view keep(std::string_view text);

  boost::unordered_flat_map<std::string_view, std::string_view> m_to_original;
  boost::unordered_flat_map<std::string_view, CONVERTED> m_to_converted;
  std::vector<std::unique_ptr<char[]>> m_blocks;
  char* m_free = nullptr;
  std::size_t m_room = 0;
  std::size_t m_longest_original = 0;
  std::size_t m_longest_converted = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_NAME_INDEX_H
