// SPEF_SCANNER: finds the names of a SPEF file (IEEE 1481 parasitics), and
// write_spef_path() writes a new name back as SPEF needs it.
//
// The header's *DIVIDER, *DELIMITER and *BUS_DELIMITER say how paths are
// written (by default "/", ":" and "[ ]"). Names are the *NAME_MAP entries'
// paths, the nets after *D_NET, *R_NET, *D_PNET and *R_PNET, *POWER_NETS
// and *GROUND_NETS, the instances after *DEFINE and *PDEFINE, and the
// nodes of *CONN, *CAP, *RES and *INDUC: "instance:pin" (the instance and
// the pin are translated together where the pin is a name of its own, as an
// output terminal is, else the instance alone), and "net:N" (the net).
// Ports, name-map references (*12), cell types (*D), numbers, strings and
// comments are left as they are.
//
// A path is read with its escapes undone ("\x" is the byte x), its divider
// as "/" and its bit index, in the bus delimiters, as "[N]". An original
// name is read in the map's form: a "/" inside a level is "\/", and a
// backslash stays a backslash, so that the map's own escapes ("\\", "\#1",
// "\.") survive a round through SPEF.
#ifndef TOOLS_NAMES_SPEF_SYNTAX_H
#define TOOLS_NAMES_SPEF_SYNTAX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/names/name_spots.h"

namespace zema_tool {

class SPEF_SCANNER {
 public:
  explicit SPEF_SCANNER(NAME_SIDE keys);

  // Starts a new file, with the default delimiters.
  void reset();
  // Appends the spots of `piece` (their keys copied into *keys) up to the
  // end of its last complete token, and gives that end; all of the piece
  // when `last`.
  std::size_t scan(std::string_view piece, bool last, std::vector<NAME_SPOT>* spots,
                   std::string* keys);
  // A word that went out unscanned, longer than any piece: it takes its
  // place among the line's words (a net's name, a node), so that the words
  // after it keep their roles, and is no name.
  void pass_word(std::string_view word);

 private:
  enum class SECTION : std::uint8_t { NONE, NAME_MAP, PORTS, NET, CONN, ELEMENTS };
  enum class EXPECT : std::uint8_t {
    NOTHING,
    MAP_INDEX,
    NAME,        // one net or name-map path
    NAMES,       // names to the end of the line (*POWER_NETS, *DEFINE)
    NODE,        // *I
    PORT,        // *P: a port, or an instance and its port
    NET_NODE,    // *N
    ELEMENT_ID,  // the number that starts a *CAP, *RES or *INDUC line
    ELEMENT_NODES,
    DIVIDER,
    DELIMITER,
    BUS_OPEN,
    BUS_CLOSE,
    SKIP
  };

  void keyword(std::string_view word);
  void token(std::string_view piece, std::size_t start, std::size_t end);
  void end_line();
  void add_name(std::size_t start, std::string_view text);
  void add_node(std::size_t start, std::string_view text);
  // Appends the key of the SPEF path `text` to *m_keys.
  void decode(std::string_view text);

  NAME_SIDE const m_keys_side;
  char m_delimiters[4];  // divider, pin delimiter, bus opening and closing
  SECTION m_section = SECTION::NONE;
  EXPECT m_expect = EXPECT::NOTHING;
  std::size_t m_skip = 0;
  std::vector<NAME_SPOT>* m_spots = nullptr;
  std::string* m_keys = nullptr;
};

// Where the pin of `node` ("instance:pin") starts: its last `delimiter`
// that no backslash escapes, or node.size().
std::size_t spef_pin_delimiter(std::string_view node, char delimiter);

// Appends `name`, a name of `side` (converted with "/" between levels, or
// original in the map's form), to *out as a SPEF path with the delimiters
// of `delimiters` (as NAME_SPOT::m_spef holds them). Gives false, with *out
// as it was, for a name that SPEF cannot write: the root, or one with white
// space or a control byte.
bool write_spef_path(std::string_view name, NAME_SIDE side, char const* delimiters,
                     std::string* out);

}  // namespace zema_tool

#endif  // TOOLS_NAMES_SPEF_SYNTAX_H
