// FULL_PATH: the full path of the node that a depth-first walk is at, the
// segments from below the root down to the node joined by "/".
//
// Entering a node at depth d keeps the path of its parent, the first d - 1
// segments, and appends the node's own; so each node costs the length of its
// own segment, whatever its depth. The converted names of the fusion tree and
// the original paths of the design are both written this way.
#ifndef TOOLS_NAMES_FULL_PATH_H
#define TOOLS_NAMES_FULL_PATH_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zema_tool {

class FULL_PATH {
 public:
  // Makes this the path of a node at `depth` (1: a child of the root) below
  // the node at depth - 1 of the current path, with `write(std::string&)`
  // appending the node's segment.
  template <class WRITE>
  void enter_with(std::size_t depth, WRITE&& write) {
    std::size_t const keep = depth > 1 && depth - 1 <= m_ends.size() ? m_ends[depth - 2] : 0;
    m_text.resize(keep);
    m_ends.resize(depth > 0 ? depth - 1 : 0);
    if (depth > 1) m_text.push_back('/');
    write(m_text);
    m_ends.push_back(m_text.size());
  }

  void enter(std::size_t depth, std::string_view segment) {
    enter_with(depth, [segment](std::string& text) { text.append(segment); });
  }

  std::string const& text() const { return m_text; }

 private:
  std::string m_text;
  std::vector<std::size_t> m_ends;  // by depth - 1: where that level's segment ends
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_FULL_PATH_H
