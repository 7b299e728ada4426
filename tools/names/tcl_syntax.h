// TCL_SCANNER: finds the names in a Tcl script (SDC and XDC constraints) as
// a Tcl interpreter reads its words, and TCL_LIST writes new names back as
// Tcl words that evaluate to them.
//
// Words are read as Tcl reads them: bare (backslash escapes undone), in
// double quotes, or in braces; a word with a variable or a command
// substitution in it is no name, but the commands in brackets are read as
// scripts of their own, and so are the braced bodies of control commands
// (if, foreach, proc, ...). A word in braces, and the argument of a query,
// is a list: each element is a name of its own, its backslashes kept, as
// object queries read their lists. Comments are left as they are.
//
// Which words are names:
// - the arguments of an object query (get_cells, get_pins, get_nets,
//   current_instance) and the value of its -of_objects, at any level; with
//   original names as keys, an argument holding "*" or "?" is a pattern,
//   and under -hierarchical every argument is matched against the last
//   levels of names at any depth (the -hierarchical word is dropped once
//   its arguments are full names). With converted names as keys, patterns
//   and -hierarchical arguments stay as they are, and so do -regexp ones;
// - never: the command's own name, options, the arguments of port, clock
//   and library queries (get_ports, get_clocks, get_lib_cells, ...), and
//   the values of -name, -clock, -filter and the like;
// - the words of [list ...] take the part of the word the list stands in,
//   each word one element whatever it holds (concat's words are lists);
// - any other word: when it has --levels levels.
//
// The scanner streams: it reads a piece up to its last complete word, and
// keeps its state (the nested scripts and lists it is in, and where in its
// command each is) for the next. Nesting deeper than kMaxDepth is skipped
// over, not followed, so memory stays bounded.
#ifndef TOOLS_NAMES_TCL_SYNTAX_H
#define TOOLS_NAMES_TCL_SYNTAX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/names/name_spots.h"
#include "tools/support/output_buffer.h"

namespace zema_tool {

class TCL_SCANNER {
 public:
  // `keys`: the side the texts write names on; `separator` joins the levels
  // of converted names.
  TCL_SCANNER(NAME_SIDE keys, char separator);

  // Starts a new script.
  void reset();
  // Appends the spots of `piece` (their keys copied into *keys) up to the
  // end of the last word it completes, and gives that end; all of the
  // piece when `last`.
  std::size_t scan(std::string_view piece, bool last, std::vector<NAME_SPOT>* spots,
                   std::string* keys);

  static constexpr std::size_t kMaxDepth = 1000;

 private:
  enum class ROLE : std::uint8_t { DEFAULT, NONE, WORDS, QUERY, OBJECTS, BODY };
  enum class COMMAND : std::uint8_t { START, QUERY, NEVER, LIST, CONTROL, OTHER };
  enum class KIND : std::uint8_t { SCRIPT, LIST, QUOTE_REST, BARE_REST };
  // The part a word plays in its command, with the query's flags.
  struct PART {
    ROLE m_role = ROLE::NONE;
    bool m_hierarchical = false;
    bool m_regexp = false;
    bool m_pins = false;               // a query of pins: a name may end in a pin
    bool m_element = false;            // a word of list: its value is one element
    OBJECT_CLASS m_class = CLASS_ANY;  // what a query's own argument must name
  };
  // A script, a list in braces, or a word that a command substitution
  // interrupted.
  struct FRAME {
    KIND m_kind = KIND::SCRIPT;
    char m_close = 0;  // SCRIPT: the byte that ends it, 0 for the text's end
    COMMAND m_command = COMMAND::START;
    ROLE m_next = ROLE::DEFAULT;  // SCRIPT: the part an option gave the next word
    PART m_part;                  // of the word (SCRIPT: of the word it stands in)
    bool m_hierarchical = false;
    bool m_regexp = false;
    bool m_pins = false;
    bool m_nets = false;
    bool m_lists = false;           // SCRIPT: foreach, whose even arguments are lists
    bool m_elements = false;        // SCRIPT: list, each of whose words is one element
    bool m_expanded = false;        // SCRIPT: the word being read follows {*}
    std::uint32_t m_arguments = 0;  // SCRIPT: the command's words read after its name
    std::uint32_t m_open = 0;       // LIST: braces its bare elements left open
  };
  enum class STEP { DONE, STOP };

  STEP step_script(std::string_view piece, bool last, std::size_t* at);
  STEP step_braced(std::string_view piece, bool last, std::size_t* at);
  STEP step_quoted(std::string_view piece, bool last, std::size_t* at);
  void add_quoted_elements(std::size_t start, std::string_view raw, PART const& part);
  STEP step_bare(std::string_view piece, bool last, std::size_t* at);
  void substitute(KIND rest_kind, PART const& part, std::size_t open, std::size_t* at);
  STEP step_list(std::string_view piece, bool last, std::size_t* at);
  STEP step_rest(std::string_view piece, bool last, std::size_t* at);
  PART part_of_next(bool braced) const;
  void push(FRAME frame);
  void pop();
  // The word just read in m_top: a literal value, or none.
  void word_done(std::string_view const* value);
  // `raw` with its backslash escapes undone (in m_value where it had any).
  std::string_view value_of(std::string_view raw, bool escaped);
  // A name at [start, start + size) of the piece, whose value is `value`.
  // `in_list`: an element in braces or quotes, which may hold white space.
  void add_spot(std::size_t start, std::size_t size, std::string_view value, SPOT_FORM form,
                PART const& part, bool in_list);
  static constexpr std::size_t kSeveral = ~std::size_t{0};
  static constexpr std::size_t kUndecided = kSeveral - 1;
  std::size_t single_element(std::string_view piece, std::size_t start, std::size_t* value_start,
                             std::size_t* value_end);
  bool closes_word(char c) const;

  NAME_SIDE const m_keys_side;
  char const m_separator;
  FRAME m_top;
  std::vector<FRAME> m_stack;
  std::size_t m_skipped = 0;  // the depth of nesting past kMaxDepth being skipped
  std::vector<NAME_SPOT>* m_spots = nullptr;
  std::string* m_keys = nullptr;
  std::string m_value;
};

// Appends `name`, of `side`, as a Tcl script writes it, before quoting:
// converted names with `separator` between levels, original paths without
// their leading "/" as constraints write them (but where the rest would
// start like an option).
void append_tcl_name(std::string_view name, NAME_SIDE side, char separator, std::string* out);
// Whether `name`, of `side`, can stand in a Tcl script as a name: not an
// original with a pattern character.
bool tcl_writable(std::string_view name, NAME_SIDE side);

// The names that take the place of one name of a Tcl script, written as
// the object queries of timing tools read them: the word's value is split
// into a list (white space and braces group elements, and backslashes stay,
// so the map's escapes pass). One name is written as a name, several as a
// list, spliced into the list in braces that the name was an element of;
// in a word of [list ...], each name is a word of its own. Where quoting is
// needed, braces are preferred, then backslashes.
class TCL_LIST {
 public:
  // Starts the names of a spot written in `form`.
  void start(SPOT_FORM form);
  // Adds a name; false when it cannot be written there (unbalanced braces
  // inside a list in braces).
  bool add(std::string_view name);
  // Whether the names can stand where they go: one name that starts like
  // an option cannot be a word of its own.
  bool writable() const;
  void write(OUTPUT_BUFFER& out);

 private:
  SPOT_FORM m_form = SPOT_FORM::TCL_WORD;
  std::string m_list;
  std::string m_word;
  std::size_t m_count = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_TCL_SYNTAX_H
