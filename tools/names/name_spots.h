// NAME_SPOT: a name that a syntax found in a piece of text, with what the
// translator needs to look it up and to write what it becomes in its place.
// The syntaxes (text_translator.cpp for plain text, tcl_syntax.h,
// spef_syntax.h) only find spots; the translator looks them up, all the
// same way, and hands each back to its syntax to be written.
//
// A spot's key is its name as the lookup's keys write it: the bytes of the
// piece where they are that already, else a copy in the piece's key buffer,
// the syntax's quoting and escapes undone. An original name's
// copy has a "/" in front of it, so that a path written without its
// leading "/" is hashed both ways without another copy.
#ifndef TOOLS_NAMES_NAME_SPOTS_H
#define TOOLS_NAMES_NAME_SPOTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/names/name_lookup.h"

namespace zema_tool {

// How the text writes the name at a spot, which decides how its new name
// is written there.
enum class SPOT_FORM : std::uint8_t {
  TEXT,                 // as it is (plain text)
  TCL_WORD,             // a Tcl word, bare, with backslashes or in braces
  TCL_QUOTED,           // a Tcl word in double quotes
  TCL_ELEMENT,          // one of several elements of a Tcl list in braces
  TCL_QUOTED_ELEMENT,   // one of several elements of a Tcl list in double quotes
  TCL_ARGUMENT,         // a word of [list ...], bare or in braces: its value is one element
  TCL_QUOTED_ARGUMENT,  // a word of [list ...] in double quotes
  TCL_FLAG,             // -hierarchical, dropped when its arguments become full names
  SPEF_NAME,            // a net or instance path in SPEF
  SPEF_NODE,            // a SPEF node: an instance and a pin, or a net and a node number
};

// What the syntax says of the word at a spot.
enum class SPOT_ROLE : std::uint8_t {
  WORD,    // any word: looked up if it has enough levels (--levels)
  NAME,    // where only a name can be: looked up at any level, and reported when it names nothing
  PATTERN  // an object query's pattern: matched against every key
};

struct NAME_SPOT {
  std::size_t m_start;  // the bytes of the piece that the spot stands for
  std::size_t m_size;
  std::size_t m_key;  // where the key starts: in the piece, or in the key buffer when m_copied
  std::size_t m_key_size;
  // SPEF_NODE: the key's length up to the pin or node, which is "/" and the
  // rest of the key; 0 for a node without one.
  std::size_t m_node;
  SPOT_FORM m_form;
  SPOT_ROLE m_role;
  bool m_copied;
  bool m_skipped;         // too few levels to be looked up
  bool m_backslashed;     // text: starts with a backslash that may be quoting
  bool m_whole;           // a name only whole, never with a pin (a cell or net query's)
  bool m_pins;            // Tcl: where a name may be a pin (not a cell or net query's)
  OBJECT_CLASS m_class;   // what the name must name: a cell query's a cell, a net query's a net
  char m_spef[4];         // SPEF: the divider, delimiter and bus delimiters in force
  PATTERN_SCOPE m_scope;  // PATTERN

  // Prepared by the translator ahead of the lookup.
  std::size_t m_cut;          // the key's length up to its last level boundary, 0 for none
  std::uint64_t m_hashes[4];  // whole, cut, and both with "/" in front (0: no lookup)
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_NAME_SPOTS_H
