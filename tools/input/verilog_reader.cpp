// Reads a structural Verilog netlist into a NETLIST in one pass over the
// tokens, with a recursive-descent parser whose only nesting (concatenations
// in expressions) runs on an explicit stack.
//
// Names are what Yosys's write_json gives for the same netlist, so that the
// two routes agree: an escaped identifier loses its backslash and the white
// space that ends it, unless its name starts with "$", "\" or a digit, which
// keep the backslash ("\$u1"). Cells and nets of a module are kept in
// Yosys's order, by name, where an escaped and a simple identifier compare
// alike and names the reader makes up come first. Bits are numbered per
// module; an assign joins the bits of its two sides, a constant side making
// them that constant.
//
// A cell's type is settled where it is met when it can be: a module defined
// above, a --liberty cell or a gate; otherwise once the file is read. A
// module of the file takes precedence over a Liberty cell of its name; when
// a module turns out to be defined below cells that took its name for a
// Liberty cell, the file is read a second time knowing every module's name.
#include "tools/input/verilog_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/cell_types.h"
#include "tools/input/netlist_expander.h"
#include "tools/input/netlist_model.h"
#include "tools/input/verilog_lexer.h"
#include "tools/input/yosys_reader.h"
#include "tools/support/hash_table.h"
#include "tools/support/text_arena.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

using TOKEN = VERILOG_TOKEN;
using KIND = VERILOG_TOKEN_KIND;

// Constant bits as the model codes them.
constexpr NETLIST_BIT kZero = -1;
constexpr NETLIST_BIT kOne = -2;
constexpr NETLIST_BIT kUnknown = -3;
constexpr NETLIST_BIT kFloating = -4;

// The bits of nets and connections a file may make: a range is a few bytes
// of text for any number of bits, so they are held to this floor and four
// per byte of the file.
constexpr std::uint64_t kBitsFloor = std::uint64_t{1} << 22;
constexpr std::uint64_t kBitsPerByte = 4;

enum class KEYWORD : std::uint8_t {
  NONE,
  MODULE,
  ENDMODULE,
  INPUT,
  OUTPUT,
  INOUT,
  NET,  // wire, tri, reg and the like
  SUPPLY0,
  SUPPLY1,
  ASSIGN,
  SPECIFY,
  STATEMENT,  // parameter, defparam and the like, skipped to their ";"
  GATE,
  MODIFIER,  // signed, unsigned, vectored, scalared
  UNSUPPORTED
};

// The gates, with the word of their Yosys cell type ($_AND_ ...), which
// gives their atom type.
struct GATE {
  std::string_view m_keyword;
  std::string_view m_word;
  bool m_many_outputs;  // buf and not: every terminal but the last drives
  bool m_three;         // bufif and notif: output, input, control
};

GATE const kGates[] = {{"and", "AND", false, false},    {"nand", "NAND", false, false},
                       {"or", "OR", false, false},      {"nor", "NOR", false, false},
                       {"xor", "XOR", false, false},    {"xnor", "XNOR", false, false},
                       {"not", "NOT", true, false},     {"buf", "BUF", true, false},
                       {"bufif0", "TBUF", false, true}, {"bufif1", "TBUF", false, true},
                       {"notif0", "TBUF", false, true}, {"notif1", "TBUF", false, true}};

KEYWORD keyword_of(TOKEN const& token) {
  if (token.m_kind != KIND::NAME || token.m_escaped) return KEYWORD::NONE;
  static HASH_MAP<std::string_view, KEYWORD> const kKeywords = [] {
    HASH_MAP<std::string_view, KEYWORD> table;
    auto add = [&](KEYWORD keyword, std::initializer_list<std::string_view> words) {
      for (std::string_view const word : words) table.emplace(word, keyword);
    };
    add(KEYWORD::MODULE, {"module", "macromodule"});
    add(KEYWORD::ENDMODULE, {"endmodule"});
    add(KEYWORD::INPUT, {"input"});
    add(KEYWORD::OUTPUT, {"output"});
    add(KEYWORD::INOUT, {"inout"});
    add(KEYWORD::NET, {"wire", "tri", "tri0", "tri1", "wand", "wor", "triand", "trior", "trireg",
                       "uwire", "reg", "logic"});
    add(KEYWORD::SUPPLY0, {"supply0"});
    add(KEYWORD::SUPPLY1, {"supply1"});
    add(KEYWORD::ASSIGN, {"assign"});
    add(KEYWORD::SPECIFY, {"specify"});
    add(KEYWORD::STATEMENT,
        {"parameter", "localparam", "defparam", "specparam", "genvar", "integer", "real",
         "realtime", "time", "event", "pullup", "pulldown", "timeunit", "timeprecision"});
    for (GATE const& gate : kGates) table.emplace(gate.m_keyword, KEYWORD::GATE);
    add(KEYWORD::MODIFIER, {"signed", "unsigned", "vectored", "scalared"});
    add(KEYWORD::UNSUPPORTED,
        {"always",    "always_comb", "always_ff", "always_latch", "initial",   "final",
         "generate",  "endgenerate", "function",  "task",         "begin",     "end",
         "if",        "case",        "for",       "while",        "primitive", "table",
         "interface", "package",     "class",     "program",      "config",    "import",
         "typedef",   "struct",      "enum",      "assert",       "property",  "sequence",
         "bind",      "nmos",        "pmos",      "cmos",         "rnmos",     "rpmos",
         "rcmos",     "tran",        "rtran",     "tranif0",      "tranif1",   "rtranif0",
         "rtranif1",  "force",       "release",   "fork"});
    return table;
  }();
  KEYWORD const* const found = kKeywords.find(token.m_text);
  return found != nullptr ? *found : KEYWORD::NONE;
}

bool is_strength(std::string_view word) {
  static std::string_view const kStrengths[] = {
      "supply0", "supply1", "strong0", "strong1", "pull0",  "pull1", "weak0",
      "weak1",   "highz0",  "highz1",  "small",   "medium", "large"};
  return std::find(std::begin(kStrengths), std::end(kStrengths), word) != std::end(kStrengths);
}

// The name Yosys's write_json gives an identifier (see the file's comment).
std::string_view name_of(TOKEN const& token) {
  if (!token.m_escaped) return token.m_text;
  char const first = token.m_text[0];
  bool const keeps = first == '$' || first == '\\' || (first >= '0' && first <= '9');
  // The backslash stands just before the text in the input.
  return keeps ? std::string_view(token.m_text.data() - 1, token.m_text.size() + 1) : token.m_text;
}

// Yosys's order of names: what the reader made up ("$...") first, then the
// identifiers by their text, where a kept backslash does not count.
bool yosys_before(std::string_view a, std::string_view b) {
  bool const made_a = a[0] == '$';
  bool const made_b = b[0] == '$';
  if (made_a != made_b) return made_a;
  if (a[0] == '\\') a.remove_prefix(1);
  if (b[0] == '\\') b.remove_prefix(1);
  return a < b;
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  char const lower = static_cast<char>(c | 0x20);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The value of a number without x or z digits (12, 4'd9, 'h3F), or false
// when it has none, or more than 64 bits.
bool number_value(std::string_view text, std::uint64_t* value) {
  unsigned radix = 10;
  std::size_t const quote = text.find('\'');
  if (quote != std::string_view::npos) {
    std::string_view rest = text.substr(quote + 1);
    if (!rest.empty() && (rest[0] == 's' || rest[0] == 'S')) rest.remove_prefix(1);
    if (rest.empty()) return false;
    char const base = static_cast<char>(rest[0] | 0x20);
    radix = base == 'b' ? 2 : base == 'o' ? 8 : base == 'd' ? 10 : base == 'h' ? 16 : 0;
    if (radix == 0) return false;
    text = rest.substr(1);
  }
  std::uint64_t result = 0;
  bool any = false;
  for (char const c : text) {
    if (c == '_' || ((c == ' ' || c == '\t') && !any)) continue;
    int const digit = digit_value(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= radix) return false;
    if (result > (UINT64_MAX - static_cast<unsigned>(digit)) / radix) return false;
    result = result * radix + static_cast<unsigned>(digit);
    any = true;
  }
  *value = result;
  return any;
}

// A declared range, or none (one bit).
struct RANGE {
  std::int64_t m_left = 0;
  std::int64_t m_right = 0;
  bool m_given = false;

  std::uint64_t width() const {
    return (m_left > m_right ? static_cast<std::uint64_t>(m_left - m_right)
                             : static_cast<std::uint64_t>(m_right - m_left)) +
           1;
  }
};

// What the parser knows of a net of the module it is reading.
struct NET_STATE {
  std::uint32_t m_net;  // in the model
  bool m_typed;         // declared by a net type
  bool m_directed;      // declared input, output or inout
  bool m_ranged;
  bool m_used;  // met in an expression
};

// A cell type as the parser settled it where a cell of it was met.
struct TYPE_ENTRY {
  enum class KIND : std::uint8_t { UNSETTLED, MODULE, LIBRARY } m_kind = KIND::UNSETTLED;
  std::uint32_t m_module = kNoModule;
  CELL_PINS const* m_pins = nullptr;
  std::vector<std::uint32_t> m_outputs;  // LIBRARY: the output pins, in order
};

// A connection of a cell whose type was not settled where it was met: its
// port, or the number of its ordered connections, checked once the type is.
struct PENDING_PORT {
  std::uint32_t m_type;  // in the reader's type entries
  std::uint32_t m_at;
  std::string_view m_port;  // empty for ordered connections
  std::uint32_t m_count;    // ordered connections
};

class VERILOG_READER final : public NETLIST_PLACES {
 public:
  VERILOG_READER(INPUT_TEXT const& text, READ_OPTIONS const& options, CELL_LIBRARY const* library)
      : m_lexer(text.view(), text.name()),
        m_options(options),
        m_types(library),
        m_bits_limit(
            std::min<std::uint64_t>(kBitsFloor + kBitsPerByte * text.size(), 0xfffffff0u)) {}

  void read(DESIGN_RECORDS* records);

  std::string netlist_place() const override { return m_lexer.name(); }
  std::string module_place(std::uint32_t module) const override {
    return m_lexer.place(m_netlist.m_modules[module].m_source);
  }
  std::string cell_place(std::uint32_t /*module*/, std::uint32_t cell) const override {
    return m_lexer.place(m_netlist.m_cells[cell].m_source);
  }

 private:
  // --- Tokens
  TOKEN take() {
    TOKEN const token = m_token;
    m_token = m_lexer.next();
    return token;
  }
  bool at_symbol(char c) const {
    return m_token.m_kind == KIND::SYMBOL && m_token.m_text.size() == 1 && m_token.m_text[0] == c;
  }
  bool take_symbol(char c) {
    if (!at_symbol(c)) return false;
    take();
    return true;
  }
  void expect_symbol(char c) {
    if (!take_symbol(c)) unexpected(std::string("\"") + c + "\"");
  }
  TOKEN expect_name(char const* what) {
    if (m_token.m_kind != KIND::NAME) unexpected(what);
    return take();
  }
  [[noreturn]] void unexpected(std::string const& expected) const;
  [[noreturn]] void fail(std::uint32_t at, std::string const& problem) const {
    m_lexer.fail(at, problem);
  }

  // --- The file and its modules
  void parse_file();
  void parse_module();
  void parse_port_list();
  void add_port(TOKEN const& name);
  void parse_ansi_ports();
  void parse_item();
  void parse_declaration(KEYWORD keyword);
  RANGE parse_declaration_head(KEYWORD* net_type);
  std::uint32_t declare(TOKEN const& name, KEYWORD direction, KEYWORD net_type, RANGE const& range);
  std::uint32_t add_net(std::string_view name, RANGE const& range, std::uint32_t at);
  void finish_module();
  void finish_box();
  void check_ports() const;
  void sort_module();
  template <class ITERATOR, class ITEM>
  void sort_by_name(ITERATOR begin, ITERATOR end, std::vector<ITEM>* scratch);
  void settle_cells();

  // --- Cells
  std::uint32_t type_of(TOKEN const& token);
  void parse_instances(TOKEN const& type_token);
  void parse_library_connections(TYPE_ENTRY const& type, std::string_view type_name);
  void parse_other_connections(std::uint32_t type);
  // Refuses a connection to a port that the module of `pending`'s type does
  // not have, or more ordered connections than it has ports; records it
  // for later when the type is not settled yet.
  void check_connection(PENDING_PORT const& pending);
  void parse_gates(TOKEN const& keyword);
  void parse_terms();
  // Adds a gate of m_terms, named `name` (read at `source`), or by the
  // place `at` of its terminals when it has no name.
  void add_gate(TOKEN const& keyword, GATE const& gate, std::string_view name, std::uint32_t source,
                std::uint32_t at);
  void add_cell(NETLIST_CELL const& cell);

  // --- Assigned bits: a union-find over the module's signals, in which a
  // signal joined to a constant has that constant as its root.
  void parse_assign();
  void join(NETLIST_BIT const* left, std::size_t count);
  NETLIST_BIT find(NETLIST_BIT bit);
  void unite(NETLIST_BIT a, NETLIST_BIT b);
  void join_assigned_bits();

  // --- Skipped parts
  void skip_statement();
  void skip_parenthesized();
  void skip_delay();
  void skip_specify();

  // --- Expressions, into m_expression, most significant bit first
  void parse_expression(bool assigned);
  void parse_operand(bool assigned);
  void append_net(TOKEN const& name, bool assigned);
  void append_select(NETLIST_NET const& net);
  void append_number(TOKEN const& number);
  void append_based(TOKEN const& number, std::size_t quote);
  // The bits of a based number's digits into m_digits, most significant
  // first.
  void decode_digits(TOKEN const& number, char base, std::string_view digits);
  void repeat(std::size_t begin, std::uint64_t count, std::uint32_t at);
  std::int64_t parse_integer();
  RANGE parse_range();
  // Copies m_expression into the model's bits, least significant first,
  // and gives where they lie.
  std::pair<std::uint32_t, std::uint32_t> keep_expression();
  void check_bits(std::uint64_t more, std::uint32_t at) const;
  std::string_view made_up_name(std::string_view gate, std::uint32_t at);

  VERILOG_LEXER m_lexer;
  READ_OPTIONS const& m_options;
  CELL_TYPES m_types;
  std::uint64_t m_bits_limit;
  TOKEN m_token;
  NETLIST m_netlist;
  TEXT_ARENA m_texts;  // names made up for unnamed gates and their ports

  HASH_MAP<std::string_view, std::uint32_t> m_module_index;
  HASH_MAP<std::string_view, std::uint32_t> m_type_index;
  std::vector<TYPE_ENTRY> m_type_entries;
  std::vector<CELL_PINS> m_module_ports;  // per module, for its instances' connections
  std::vector<PENDING_PORT> m_pending;
  // The second reading: every module's name, which no Liberty cell may take.
  HASH_MAP<std::string_view, bool> m_file_modules;
  // The black boxes of this reading (boxes are cell types in m_types, not
  // modules), so that a second module of the name is refused.
  HASH_MAP<std::string_view, bool> m_boxes;
  bool m_read_again = false;
  // Selects with bits outside their nets, and where the first one is.
  std::uint64_t m_outside_selects = 0;
  std::uint32_t m_first_outside_at = 0;

  // The module being read.
  NETLIST_MODULE m_module;
  std::uint32_t m_module_bits = 0;                        // its first bit in the model
  HASH_MAP<std::string_view, std::uint32_t> m_net_index;  // into m_nets
  std::vector<NET_STATE> m_nets;
  HASH_MAP<std::string_view, std::uint32_t> m_port_index;  // into the model's
  NETLIST_BIT m_next_signal = 0;
  std::vector<NETLIST_BIT> m_joined;
  bool m_has_comb_outputs = false;
  TOKEN m_module_name;
  bool m_boxed = false;        // marked blackbox or whitebox
  bool m_has_content = false;  // anything but port declarations and specify blocks

  // Scratch.
  std::vector<NETLIST_BIT> m_expression;
  std::vector<NETLIST_BIT> m_left;
  struct FRAME {
    std::size_t m_begin;
    std::uint64_t m_count;
    std::uint32_t m_at;
    bool m_repeat;
  };
  std::vector<FRAME> m_frames;
  std::vector<NETLIST_BIT> m_digits;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_pin_bits;  // per pin of a Liberty cell
  std::vector<std::uint32_t> m_pin_seen;  // per pin: the serial of the cell that set it
  std::uint32_t m_serial = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_terms;
  struct SORT_KEY {
    std::uint64_t m_prefix;
    std::uint32_t m_index;
  };
  std::vector<SORT_KEY> m_sort_keys;
  std::vector<NETLIST_CELL> m_cell_scratch;
  std::vector<NETLIST_NET> m_net_scratch;
  std::vector<std::uint32_t> m_path;
  std::string m_text;
  // Lines counted up to m_line_at, for the names of unnamed gates.
  std::uint32_t m_line_at = 0;
  std::uint32_t m_line = 1;
  std::uint32_t m_line_start = 0;
};

void VERILOG_READER::unexpected(std::string const& expected) const {
  if (m_token.m_kind == KIND::SYMBOL &&
      std::string_view("~!&|^?+-*/%<>").find(m_token.m_text[0]) != std::string_view::npos) {
    fail(m_token.m_at, "operators are not supported in a structural netlist");
  }
  std::string got = "the end of the file";
  if (m_token.m_kind == KIND::NAME) got = quoted_text(name_of(m_token));
  if (m_token.m_kind == KIND::NUMBER || m_token.m_kind == KIND::SYMBOL) {
    got = quoted_text(m_token.m_text);
  }
  if (m_token.m_kind == KIND::STRING) got = "a string";
  fail(m_token.m_at, "expected " + expected + ", got " + got);
}

void VERILOG_READER::read(DESIGN_RECORDS* records) {
  parse_file();
  if (m_read_again) {
    for (NETLIST_MODULE const& module : m_netlist.m_modules) {
      if (!module.m_cell_type) m_file_modules.emplace(module.m_name, true);
    }
    m_netlist = NETLIST();
    m_module_index = HASH_MAP<std::string_view, std::uint32_t>();
    m_type_index = HASH_MAP<std::string_view, std::uint32_t>();
    m_type_entries.clear();
    m_module_ports.clear();
    m_boxes = HASH_MAP<std::string_view, bool>();
    m_pending.clear();
    m_outside_selects = 0;
    m_lexer.rewind();
    m_line_at = m_line_start = 0;
    m_line = 1;
    parse_file();
  }
  settle_cells();
  expand_netlist(m_netlist, *this, m_options, records);
  if (m_outside_selects > 0) {
    // Yosys reads such bits as x too, and warns of each.
    records->m_warnings.push_back(
        m_lexer.place(m_first_outside_at) + ": " +
        (m_outside_selects == 1 ? std::string("a select falls")
                                : decimal(m_outside_selects) + " selects fall") +
        " outside the net's range (the first here); their bits are x, connected to nothing");
  }
}

void VERILOG_READER::parse_file() {
  m_token = m_lexer.next();
  while (m_token.m_kind != KIND::END) {
    if (keyword_of(m_token) != KEYWORD::MODULE) unexpected("\"module\"");
    parse_module();
  }
}

// --- Modules ---------------------------------------------------------------------------

void VERILOG_READER::parse_module() {
  m_boxed = m_lexer.boxed(m_token.m_at);
  m_has_content = false;
  take();  // module
  TOKEN const name = expect_name("the module's name");
  m_module_name = name;
  m_module = NETLIST_MODULE();
  m_module.m_name = name_of(name);
  m_module.m_source = name.m_at;
  if (m_module_index.find(m_module.m_name) != nullptr || m_boxes.find(m_module.m_name) != nullptr) {
    fail(name.m_at, "a second module named " + quoted_text(m_module.m_name));
  }
  m_module.m_cells_begin = static_cast<std::uint32_t>(m_netlist.m_cells.size());
  m_module.m_nets_begin = static_cast<std::uint32_t>(m_netlist.m_nets.size());
  m_module.m_ports_begin = static_cast<std::uint32_t>(m_netlist.m_ports.size());
  m_module_bits = static_cast<std::uint32_t>(m_netlist.m_bits.size());
  m_net_index = HASH_MAP<std::string_view, std::uint32_t>();
  m_nets.clear();
  m_port_index = HASH_MAP<std::string_view, std::uint32_t>();
  m_next_signal = 0;
  m_joined.clear();
  m_has_comb_outputs = false;
  if (take_symbol('#')) skip_delay();  // parameters
  if (at_symbol('(')) parse_port_list();
  expect_symbol(';');
  while (keyword_of(m_token) != KEYWORD::ENDMODULE) {
    if (m_token.m_kind == KIND::END) unexpected("\"endmodule\"");
    parse_item();
  }
  take();  // endmodule
  // SystemVerilog may name the module again: "endmodule : top".
  if (take_symbol(':')) {
    TOKEN const label = expect_name("the module's name");
    if (name_of(label) != m_module.m_name) {
      fail(label.m_at, "endmodule is labelled " + quoted_text(name_of(label)) + ", not " +
                           quoted_text(m_module.m_name));
    }
  }
  finish_module();
}

void VERILOG_READER::add_port(TOKEN const& name) {
  std::string_view const port = name_of(name);
  if (!m_port_index.emplace(port, static_cast<std::uint32_t>(m_netlist.m_ports.size())).second) {
    fail(name.m_at, "a second port named " + quoted_text(port));
  }
  // INTERNAL until a declaration gives its direction.
  m_netlist.m_ports.push_back({port, PIN_DIRECTION::INTERNAL});
}

void VERILOG_READER::parse_port_list() {
  take();  // (
  if (take_symbol(')')) return;
  KEYWORD const first = keyword_of(m_token);
  if (first == KEYWORD::INPUT || first == KEYWORD::OUTPUT || first == KEYWORD::INOUT) {
    parse_ansi_ports();
    return;
  }
  // Names only; the module declares them.
  do {
    if (at_symbol('.') || at_symbol('{')) {
      fail(m_token.m_at, "port expressions are not supported in a structural netlist");
    }
    add_port(expect_name("a port name"));
  } while (take_symbol(','));
  expect_symbol(')');
}

// A port written by its name alone takes the direction, net type and range
// of the port before it: in "output [3:0] a, b", b has four bits too.
void VERILOG_READER::parse_ansi_ports() {
  KEYWORD direction = KEYWORD::NONE;
  KEYWORD net_type = KEYWORD::NONE;
  RANGE range;
  do {
    KEYWORD const keyword = keyword_of(m_token);
    if (keyword != KEYWORD::NONE) {
      net_type = KEYWORD::NONE;
      range = RANGE();
    }
    if (keyword == KEYWORD::INPUT || keyword == KEYWORD::OUTPUT || keyword == KEYWORD::INOUT) {
      direction = keyword;
      take();
      range = parse_declaration_head(&net_type);
    } else if (keyword != KEYWORD::NONE) {
      range = parse_declaration_head(&net_type);
    }
    TOKEN const name = expect_name("a port name");
    add_port(name);
    declare(name, direction, net_type, range);
  } while (take_symbol(','));
  expect_symbol(')');
}

void VERILOG_READER::parse_item() {
  KEYWORD const keyword = keyword_of(m_token);
  switch (keyword) {
    case KEYWORD::INPUT:
    case KEYWORD::OUTPUT:
    case KEYWORD::INOUT:
    case KEYWORD::NET:
    case KEYWORD::SUPPLY0:
    case KEYWORD::SUPPLY1:
      parse_declaration(keyword);
      return;
    case KEYWORD::ASSIGN:
      m_has_content = true;
      parse_assign();
      return;
    case KEYWORD::SPECIFY:
      skip_specify();
      return;
    case KEYWORD::STATEMENT:
      m_has_content = true;
      skip_statement();
      return;
    case KEYWORD::GATE:
      m_has_content = true;
      parse_gates(take());
      return;
    case KEYWORD::NONE:
      if (take_symbol(';')) return;
      if (m_token.m_kind != KIND::NAME) unexpected("a declaration, an instance or \"endmodule\"");
      m_has_content = true;
      parse_instances(take());
      return;
    default:
      fail(m_token.m_at, quoted_text(m_token.m_text) + " is not supported in a structural netlist");
  }
}

// After a direction or a net type: further net types, signed and the like,
// a strength and a range. Gives the range.
RANGE VERILOG_READER::parse_declaration_head(KEYWORD* net_type) {
  for (;;) {
    KEYWORD const keyword = keyword_of(m_token);
    if (keyword == KEYWORD::NET || keyword == KEYWORD::SUPPLY0 || keyword == KEYWORD::SUPPLY1) {
      *net_type = keyword;
      take();
    } else if (keyword == KEYWORD::MODIFIER) {
      take();
    } else {
      break;
    }
  }
  if (at_symbol('(')) skip_parenthesized();  // a strength
  return at_symbol('[') ? parse_range() : RANGE();
}

void VERILOG_READER::parse_declaration(KEYWORD keyword) {
  take();
  bool const directed =
      keyword == KEYWORD::INPUT || keyword == KEYWORD::OUTPUT || keyword == KEYWORD::INOUT;
  KEYWORD net_type = directed ? KEYWORD::NONE : keyword;
  RANGE const range = parse_declaration_head(&net_type);
  if (take_symbol('#')) skip_delay();
  do {
    TOKEN const name = expect_name("a net name");
    if (at_symbol('[')) fail(m_token.m_at, "arrays of nets are not supported");
    // A net of its own, not a port declared again, is content.
    if (!directed && m_port_index.find(name_of(name)) == nullptr) m_has_content = true;
    std::uint32_t const net = declare(name, directed ? keyword : KEYWORD::NONE, net_type, range);
    if (take_symbol('=')) {
      // A net declaration assignment joins the net to the expression.
      NETLIST_NET const& model = m_netlist.m_nets[net];
      m_left.assign(m_netlist.m_bits.begin() + model.m_bits_begin,
                    m_netlist.m_bits.begin() + model.m_bits_end);
      m_expression.clear();
      parse_expression(false);
      join(m_left.data(), m_left.size());
    }
  } while (take_symbol(','));
  expect_symbol(';');
}

// Declares a net, or declares again one that a port list, an earlier
// declaration or a first use made: once with a direction and once with a
// net type. Two declarations give the same range or none (Yosys refuses the
// rest too); after a port list or a first use, a range may come. Gives the
// net.
std::uint32_t VERILOG_READER::declare(TOKEN const& name, KEYWORD direction, KEYWORD net_type,
                                      RANGE const& range) {
  std::string_view const text = name_of(name);
  auto const [entry, added] = m_net_index.emplace(text, static_cast<std::uint32_t>(m_nets.size()));
  std::uint32_t const index = *entry;
  if (added) {
    m_nets.push_back({add_net(text, range, name.m_at), net_type != KEYWORD::NONE,
                      direction != KEYWORD::NONE, range.m_given, false});
  } else {
    NET_STATE& state = m_nets[index];
    bool const implicit = !state.m_typed && !state.m_directed;
    if (!implicit && ((direction != KEYWORD::NONE && state.m_directed) ||
                      (net_type != KEYWORD::NONE && state.m_typed))) {
      fail(name.m_at, "a second declaration of " + quoted_text(text));
    }
    NETLIST_NET const& net = m_netlist.m_nets[state.m_net];
    bool const same_range =
        range.m_given == state.m_ranged &&
        (!range.m_given || (range.width() == net.m_bits_end - net.m_bits_begin &&
                            std::min(range.m_left, range.m_right) == net.m_offset &&
                            (range.m_left < range.m_right) == net.m_upto));
    if (!implicit && !same_range) {
      fail(name.m_at, quoted_text(text) + " is declared again with another range");
    }
    if (range.m_given && !state.m_ranged) {
      if (state.m_used) fail(name.m_at, quoted_text(text) + " gets a range after its first use");
      NETLIST_NET const wider = m_netlist.m_nets[add_net(text, range, name.m_at)];
      m_netlist.m_nets.pop_back();
      m_netlist.m_nets[state.m_net] = wider;
      state.m_ranged = true;
    }
    state.m_typed |= net_type != KEYWORD::NONE;
    state.m_directed |= direction != KEYWORD::NONE;
  }
  std::uint32_t const net = m_nets[index].m_net;
  if (net_type == KEYWORD::SUPPLY0 || net_type == KEYWORD::SUPPLY1) {
    // A supply net is its constant, as if assigned it.
    NETLIST_NET const& model = m_netlist.m_nets[net];
    for (std::uint32_t b = model.m_bits_begin; b < model.m_bits_end; ++b) {
      unite(m_netlist.m_bits[b], net_type == KEYWORD::SUPPLY0 ? kZero : kOne);
    }
  }
  if (direction != KEYWORD::NONE) {
    std::uint32_t const* const port = m_port_index.find(text);
    if (port == nullptr) {
      fail(name.m_at, quoted_text(text) + " is not in the port list of module " +
                          quoted_text(m_module.m_name));
    }
    m_netlist.m_ports[*port].m_direction = direction == KEYWORD::INPUT    ? PIN_DIRECTION::INPUT
                                           : direction == KEYWORD::OUTPUT ? PIN_DIRECTION::OUTPUT
                                                                          : PIN_DIRECTION::INOUT;
  }
  return net;
}

std::uint32_t VERILOG_READER::add_net(std::string_view name, RANGE const& range, std::uint32_t at) {
  std::uint64_t const width = range.width();
  check_bits(width, at);
  NETLIST_NET net{name,
                  range.m_given ? std::min(range.m_left, range.m_right) : 0,
                  static_cast<std::uint32_t>(m_netlist.m_bits.size()),
                  static_cast<std::uint32_t>(m_netlist.m_bits.size() + width),
                  false,
                  range.m_given && range.m_left < range.m_right};
  for (std::uint64_t b = 0; b < width; ++b) m_netlist.m_bits.push_back(m_next_signal++);
  m_netlist.m_nets.push_back(net);
  return static_cast<std::uint32_t>(m_netlist.m_nets.size() - 1);
}

void VERILOG_READER::check_ports() const {
  for (std::uint32_t p = m_module.m_ports_begin; p < m_netlist.m_ports.size(); ++p) {
    if (m_netlist.m_ports[p].m_direction == PIN_DIRECTION::INTERNAL) {
      fail(m_module.m_source, "port " + quoted_text(m_netlist.m_ports[p].m_name) + " of module " +
                                  quoted_text(m_module.m_name) +
                                  " is not declared input, output or inout");
    }
  }
}

void VERILOG_READER::finish_module() {
  check_ports();
  // A module with nothing in it but its ports, or one marked blackbox or
  // whitebox, is a type of cells, as Yosys reads it.
  if (m_boxed || !m_has_content) {
    finish_box();
    return;
  }
  if (!m_joined.empty()) join_assigned_bits();
  m_module.m_cells_end = static_cast<std::uint32_t>(m_netlist.m_cells.size());
  m_module.m_nets_end = static_cast<std::uint32_t>(m_netlist.m_nets.size());
  m_module.m_ports_end = static_cast<std::uint32_t>(m_netlist.m_ports.size());
  sort_module();
  std::uint32_t const index = static_cast<std::uint32_t>(m_netlist.m_modules.size());
  m_module_index.emplace(m_module.m_name, index);
  m_netlist.m_modules.push_back(m_module);
  std::vector<TYPE_PIN> pins;
  for (std::uint32_t p = m_module.m_ports_begin; p < m_module.m_ports_end; ++p) {
    pins.push_back({m_netlist.m_ports[p].m_name, m_netlist.m_ports[p].m_direction});
  }
  m_module_ports.emplace_back(CDB_ATOM_COMB, std::move(pins));
  std::uint32_t const* const used = m_type_index.find(m_module.m_name);
  if (used == nullptr) return;
  TYPE_ENTRY& type = m_type_entries[*used];
  // Cells above took the module's name for a Liberty cell: the file is read
  // again knowing that it is a module.
  if (type.m_kind == TYPE_ENTRY::KIND::LIBRARY) m_read_again = true;
  type.m_kind = TYPE_ENTRY::KIND::MODULE;
  type.m_module = index;
}

// A black box: its ports give its cells their pins, and its cells are COMB
// atoms whose outputs are oterms, unless a --liberty cell has its name, which
// comes first. Cells above it that took its name for an unknown type are
// settled by reading the file again.
void VERILOG_READER::finish_box() {
  m_boxes.emplace(m_module.m_name, true);
  // What a marked box holds (a model of its function) is no part of the
  // design.
  if (m_netlist.m_cells.size() > m_module.m_cells_begin) {
    m_netlist.m_outputs.resize(m_netlist.m_cells[m_module.m_cells_begin].m_outputs_begin);
    m_netlist.m_cells.resize(m_module.m_cells_begin);
  }
  if (m_types.find(m_module_name.m_text) == nullptr) {
    std::vector<TYPE_PIN> pins;
    for (std::uint32_t p = m_module.m_ports_begin; p < m_netlist.m_ports.size(); ++p) {
      pins.push_back({m_netlist.m_ports[p].m_name, m_netlist.m_ports[p].m_direction});
    }
    m_types.add(m_module_name.m_text, CDB_ATOM_COMB, std::move(pins));
  }
  std::uint32_t const* const used = m_type_index.find(m_module.m_name);
  if (used != nullptr && m_type_entries[*used].m_kind == TYPE_ENTRY::KIND::UNSETTLED) {
    m_read_again = true;
  }
  // Among the modules, as a Yosys netlist has its black boxes, for the
  // choice of the top, which passes them over; no cell instantiates it.
  m_module.m_cells_end = m_module.m_cells_begin;
  m_module.m_nets_end = static_cast<std::uint32_t>(m_netlist.m_nets.size());
  m_module.m_ports_end = static_cast<std::uint32_t>(m_netlist.m_ports.size());
  m_module.m_cell_type = true;
  m_netlist.m_modules.push_back(m_module);
  m_module_ports.emplace_back(CDB_ATOM_COMB, std::vector<TYPE_PIN>());  // kept in step
}

// Cells and nets in Yosys's order (the file's comment): what it makes up in
// a netlist depends on the order of atoms, and the names of COMB outputs on
// the order of nets. Two instances of one name are found side by side.
void VERILOG_READER::sort_module() {
  auto const cells_begin = m_netlist.m_cells.begin() + m_module.m_cells_begin;
  auto const cells_end = m_netlist.m_cells.begin() + m_module.m_cells_end;
  sort_by_name(cells_begin, cells_end, &m_cell_scratch);
  auto const twin = std::adjacent_find(
      cells_begin, cells_end, [](auto const& a, auto const& b) { return a.m_name == b.m_name; });
  if (twin != cells_end) {
    fail((twin + 1)->m_source, "a second instance named " + quoted_text(twin->m_name) +
                                   " in module " + quoted_text(m_module.m_name));
  }
  if (!m_has_comb_outputs) return;
  sort_by_name(m_netlist.m_nets.begin() + m_module.m_nets_begin,
               m_netlist.m_nets.begin() + m_module.m_nets_end, &m_net_scratch);
}

// Sorts [begin, end) stably by the names' Yosys order. Most comparisons
// are of one integer: each name's first bytes, kept beside its index.
template <class ITERATOR, class ITEM>
void VERILOG_READER::sort_by_name(ITERATOR begin, ITERATOR end, std::vector<ITEM>* scratch) {
  auto const by_name = [](ITEM const& a, ITEM const& b) {
    return yosys_before(a.m_name, b.m_name);
  };
  if (std::is_sorted(begin, end, by_name)) return;
  m_sort_keys.clear();
  for (ITERATOR item = begin; item != end; ++item) {
    std::string_view key = item->m_name;
    // Made-up names ("$...") first; a kept backslash does not count.
    std::uint64_t prefix = key[0] == '$' ? 0 : 1;
    if (key[0] == '\\') key.remove_prefix(1);
    for (std::size_t b = 0; b < 7; ++b) {
      prefix = prefix << 8 | (b < key.size() ? static_cast<unsigned char>(key[b]) : 0u);
    }
    m_sort_keys.push_back({prefix, static_cast<std::uint32_t>(item - begin)});
  }
  std::stable_sort(m_sort_keys.begin(), m_sort_keys.end(),
                   [&](SORT_KEY const& a, SORT_KEY const& b) {
                     if (a.m_prefix != b.m_prefix) return a.m_prefix < b.m_prefix;
                     return by_name(begin[a.m_index], begin[b.m_index]);
                   });
  scratch->assign(begin, end);
  for (std::size_t i = 0; i < m_sort_keys.size(); ++i)
    begin[i] = (*scratch)[m_sort_keys[i].m_index];
}

// Once the file is read: a cell whose type was not settled where it was met
// instantiates a module defined below it, or is of an unknown type.
void VERILOG_READER::settle_cells() {
  for (NETLIST_CELL& cell : m_netlist.m_cells) {
    if (cell.m_kind != CELL_KIND::UNKNOWN) continue;
    TYPE_ENTRY const& type = m_type_entries[*m_type_index.find(cell.m_type)];
    if (type.m_kind != TYPE_ENTRY::KIND::MODULE) continue;
    cell.m_kind = CELL_KIND::INSTANCE;
    cell.m_module = type.m_module;
  }
  // The connections of cells of types settled only now; those of cells of
  // unknown types name nothing.
  for (PENDING_PORT const& pending : m_pending) {
    if (m_type_entries[pending.m_type].m_kind == TYPE_ENTRY::KIND::MODULE) {
      check_connection(pending);
    }
  }
}

// --- Cells -------------------------------------------------------------------------------

// The entry of a cell type, settled where it is first met when it can be: a
// module defined above, else a --liberty cell (unless a module of the file,
// defined below, has its name).
std::uint32_t VERILOG_READER::type_of(TOKEN const& token) {
  std::string_view const name = name_of(token);
  auto const [entry, added] =
      m_type_index.emplace(name, static_cast<std::uint32_t>(m_type_entries.size()));
  std::uint32_t const index = *entry;
  if (!added) return index;
  m_type_entries.emplace_back();
  TYPE_ENTRY& type = m_type_entries.back();
  std::uint32_t const* const module = m_module_index.find(name);
  if (module != nullptr) {
    type.m_kind = TYPE_ENTRY::KIND::MODULE;
    type.m_module = *module;
  } else if (m_file_modules.find(name) == nullptr) {
    if (CELL_PINS const* const pins = m_types.find(token.m_text)) {
      type.m_kind = TYPE_ENTRY::KIND::LIBRARY;
      type.m_pins = pins;
      for (std::uint32_t p = 0; p < pins->size(); ++p) {
        if (pins->pin(p).m_direction == PIN_DIRECTION::OUTPUT) type.m_outputs.push_back(p);
      }
      if (m_pin_bits.size() < pins->size()) {
        m_pin_bits.resize(pins->size());
        m_pin_seen.resize(pins->size(), 0);
      }
    }
  }
  return index;
}

void VERILOG_READER::parse_instances(TOKEN const& type_token) {
  std::uint32_t const type = type_of(type_token);
  if (take_symbol('#')) skip_delay();  // parameters
  do {
    TOKEN const name = expect_name("an instance name");
    if (at_symbol('[')) fail(m_token.m_at, "arrays of instances are not supported");
    NETLIST_CELL cell{name_of(name), name_of(type_token), kNoModule,         0, 0,
                      name.m_at,     CDB_ATOM_COMB,       CELL_KIND::UNKNOWN};
    cell.m_outputs_begin = static_cast<std::uint32_t>(m_netlist.m_outputs.size());
    TYPE_ENTRY const& entry = m_type_entries[type];
    if (entry.m_kind == TYPE_ENTRY::KIND::LIBRARY) {
      cell.m_kind = CELL_KIND::ATOM;
      cell.m_atom_type = entry.m_pins->atom_type();
      parse_library_connections(entry, cell.m_type);
    } else {
      if (entry.m_kind == TYPE_ENTRY::KIND::MODULE) {
        cell.m_kind = CELL_KIND::INSTANCE;
        cell.m_module = entry.m_module;
      }
      parse_other_connections(type);
    }
    cell.m_outputs_end = static_cast<std::uint32_t>(m_netlist.m_outputs.size());
    add_cell(cell);
  } while (take_symbol(','));
  expect_symbol(';');
}

// The connections of a Liberty cell, named or ordered (in the library's pin
// order); the outputs become the cell's, in pin order, open or not.
void VERILOG_READER::parse_library_connections(TYPE_ENTRY const& type, std::string_view type_name) {
  CELL_PINS const& pins = *type.m_pins;
  ++m_serial;
  for (std::uint32_t const p : type.m_outputs) m_pin_bits[p] = {0, 0};
  expect_symbol('(');
  bool const named = at_symbol('.');
  std::uint32_t index = 0;
  if (!at_symbol(')')) {
    do {
      std::uint32_t pin = index++;
      TOKEN port = m_token;
      m_expression.clear();
      if (named) {
        expect_symbol('.');
        port = expect_name("a port name");
        pin = pins.find(port.m_text);
        if (pin == kNoPin) {
          fail(port.m_at, quoted_text(name_of(port)) + " is not a pin of the Liberty cell " +
                              quoted_text(type_name));
        }
        if (take_symbol('(')) {
          if (!at_symbol(')')) parse_expression(false);
          expect_symbol(')');
        } else {
          append_net(port, false);  // .name stands for .name(name)
        }
      } else {
        if (pin >= pins.size()) {
          fail(port.m_at, "more connections than the Liberty cell " + quoted_text(type_name) +
                              " has pins (" + decimal(pins.size()) + ")");
        }
        if (!at_symbol(',') && !at_symbol(')')) parse_expression(false);
      }
      if (m_pin_seen[pin] == m_serial) {
        fail(port.m_at, "a second connection to pin " + quoted_text(pins.pin(pin).m_name));
      }
      m_pin_seen[pin] = m_serial;
      if (pins.pin(pin).m_direction == PIN_DIRECTION::OUTPUT) m_pin_bits[pin] = keep_expression();
    } while (take_symbol(','));
  }
  expect_symbol(')');
  for (std::uint32_t const p : type.m_outputs) {
    m_netlist.m_outputs.push_back({pins.pin(p).m_name, m_pin_bits[p].first, m_pin_bits[p].second});
  }
}

// The connections of an instance of a module, or of a type not settled yet:
// nothing of them names anything, but their ports must exist and their
// nets are declared by use.
void VERILOG_READER::parse_other_connections(std::uint32_t type) {
  std::uint32_t const at = m_token.m_at;
  expect_symbol('(');
  if (take_symbol(')')) return;
  bool const named = at_symbol('.');
  std::uint32_t count = 0;
  do {
    ++count;
    m_expression.clear();
    if (named) {
      expect_symbol('.');
      TOKEN const port = expect_name("a port name");
      check_connection({type, port.m_at, name_of(port), 0});
      if (take_symbol('(')) {
        if (!at_symbol(')')) parse_expression(false);
        expect_symbol(')');
      } else {
        append_net(port, false);  // .name stands for .name(name)
      }
    } else if (!at_symbol(',') && !at_symbol(')')) {
      parse_expression(false);
    }
  } while (take_symbol(','));
  expect_symbol(')');
  if (!named) check_connection({type, at, std::string_view(), count});
}

void VERILOG_READER::check_connection(PENDING_PORT const& pending) {
  TYPE_ENTRY const& type = m_type_entries[pending.m_type];
  if (type.m_kind != TYPE_ENTRY::KIND::MODULE) {
    m_pending.push_back(pending);
    return;
  }
  CELL_PINS const& ports = m_module_ports[type.m_module];
  std::string_view const module = m_netlist.m_modules[type.m_module].m_name;
  if (!pending.m_port.empty() && ports.find(pending.m_port) == kNoPin) {
    fail(pending.m_at,
         quoted_text(pending.m_port) + " is not a port of module " + quoted_text(module));
  }
  if (pending.m_port.empty() && pending.m_count > ports.size()) {
    fail(pending.m_at, decimal(pending.m_count) + " connections to module " + quoted_text(module) +
                           ", which has " + decimal(ports.size()) + " ports");
  }
}

void VERILOG_READER::add_cell(NETLIST_CELL const& cell) {
  m_netlist.m_cells.push_back(cell);
  m_has_comb_outputs |= cell.m_kind == CELL_KIND::ATOM && cell.m_atom_type == CDB_ATOM_COMB &&
                        cell.m_outputs_end > cell.m_outputs_begin;
  // Every output of a cell the top reaches makes a name: past the name
  // limit, a library of wide cells cannot make the outputs fill memory.
  if (m_netlist.m_outputs.size() > m_options.m_max_instances) {
    fail(cell.m_source, "the cells have " + count_over_limit(m_netlist.m_outputs.size(), "outputs",
                                                             m_options.m_max_instances));
  }
}

// Gates: an optional strength and delay, then instances, each with an
// optional name and its terminals, outputs first.
void VERILOG_READER::parse_gates(TOKEN const& keyword) {
  GATE const& gate = *std::find_if(std::begin(kGates), std::end(kGates),
                                   [&](GATE const& g) { return g.m_keyword == keyword.m_text; });
  bool opened = false;
  if (at_symbol('(')) {
    // A strength, or the terminals of an unnamed first instance.
    std::uint32_t const at = take().m_at;
    if (m_token.m_kind == KIND::NAME && !m_token.m_escaped && is_strength(m_token.m_text)) {
      while (!take_symbol(')')) {
        if (m_token.m_kind == KIND::END) unexpected("\")\"");
        take();
      }
    } else {
      opened = true;
      parse_terms();
      add_gate(keyword, gate, std::string_view(), at, at);
      if (!take_symbol(',')) {
        expect_symbol(';');
        return;
      }
    }
  }
  if (!opened && take_symbol('#')) skip_delay();
  do {
    std::string_view name;
    std::uint32_t const at = m_token.m_at;
    if (m_token.m_kind == KIND::NAME) {
      name = name_of(take());
      if (at_symbol('[')) fail(m_token.m_at, "arrays of instances are not supported");
    }
    std::uint32_t const terms = m_token.m_at;
    expect_symbol('(');
    parse_terms();
    add_gate(keyword, gate, name, at, terms);
  } while (take_symbol(','));
  expect_symbol(';');
}

// A gate's terminals, after its "(": every one kept in the model's bits.
void VERILOG_READER::parse_terms() {
  m_terms.clear();
  do {
    if (at_symbol(',') || at_symbol(')')) fail(m_token.m_at, "a gate's terminal cannot be open");
    m_expression.clear();
    parse_expression(false);
    m_terms.push_back(keep_expression());
  } while (take_symbol(','));
  expect_symbol(')');
}

void VERILOG_READER::add_gate(TOKEN const& keyword, GATE const& gate, std::string_view name,
                              std::uint32_t source, std::uint32_t at) {
  if (gate.m_three ? m_terms.size() != 3 : m_terms.size() < 2) {
    fail(at, quoted_text(gate.m_keyword) + " needs " +
                 (gate.m_three ? "three terminals: an output, an input and a control"
                               : "an output and an input"));
  }
  NETLIST_CELL cell{name.empty() ? made_up_name(gate.m_keyword, at) : name,
                    keyword.m_text,
                    kNoModule,
                    static_cast<std::uint32_t>(m_netlist.m_outputs.size()),
                    0,
                    source,
                    yosys_gate_atom_type(gate.m_word),
                    CELL_KIND::ATOM};
  std::size_t const outputs = gate.m_many_outputs ? m_terms.size() - 1 : 1;
  for (std::size_t o = 0; o < outputs; ++o) {
    std::string_view port = "Y";
    if (outputs > 1) {
      m_text = "Y" + decimal(o);
      port = m_texts.keep(m_text);
    }
    m_netlist.m_outputs.push_back({port, m_terms[o].first, m_terms[o].second});
  }
  cell.m_outputs_end = static_cast<std::uint32_t>(m_netlist.m_outputs.size());
  add_cell(cell);
}

// "$GATE$LINE:COLUMN", the place of the instance's "(": unique, since no
// identifier of the file starts with "$" (an escaped one keeps its
// backslash), and found again in the file.
std::string_view VERILOG_READER::made_up_name(std::string_view gate, std::uint32_t at) {
  std::string_view const text = m_lexer.text();
  if (at < m_line_at) {
    m_line_at = m_line_start = 0;
    m_line = 1;
  }
  for (char const* next = text.data() + m_line_at;;) {
    void const* const line_end = std::memchr(next, '\n', text.data() + at - next);
    if (line_end == nullptr) break;
    next = static_cast<char const*>(line_end) + 1;
    ++m_line;
    m_line_start = static_cast<std::uint32_t>(next - text.data());
  }
  m_line_at = at;
  m_text.assign("$").append(gate).append("$").append(decimal(m_line)).append(":");
  m_text.append(decimal(at - m_line_start + 1));
  return m_texts.keep(m_text);
}

// --- Assigned bits -------------------------------------------------------------------------

void VERILOG_READER::parse_assign() {
  take();                                    // assign
  if (at_symbol('(')) skip_parenthesized();  // a strength
  if (take_symbol('#')) skip_delay();
  do {
    m_expression.clear();
    parse_expression(true);
    m_left.assign(m_expression.rbegin(), m_expression.rend());
    expect_symbol('=');
    m_expression.clear();
    parse_expression(false);
    join(m_left.data(), m_left.size());
  } while (take_symbol(','));
  expect_symbol(';');
}

// Joins `left` (least significant first) to m_expression bit by bit, from
// the least significant; a shorter right side is extended with 0s, as
// Verilog extends an unsigned value. Bits past a net's range on the left
// (constants) join nothing.
void VERILOG_READER::join(NETLIST_BIT const* left, std::size_t count) {
  std::size_t const right = m_expression.size();
  for (std::size_t b = 0; b < count; ++b) {
    if (left[b] < 0) continue;
    unite(left[b], b < right ? m_expression[right - 1 - b] : kZero);
  }
}

NETLIST_BIT VERILOG_READER::find(NETLIST_BIT bit) {
  if (bit < 0 || static_cast<std::size_t>(bit) >= m_joined.size()) return bit;
  NETLIST_BIT root = bit;
  while (root >= 0 && m_joined[static_cast<std::size_t>(root)] != root) {
    root = m_joined[static_cast<std::size_t>(root)];
  }
  while (bit >= 0 && m_joined[static_cast<std::size_t>(bit)] != bit) {
    NETLIST_BIT const next = m_joined[static_cast<std::size_t>(bit)];
    m_joined[static_cast<std::size_t>(bit)] = root;
    bit = next;
  }
  return root;
}

void VERILOG_READER::unite(NETLIST_BIT a, NETLIST_BIT b) {
  if (m_joined.size() < static_cast<std::size_t>(m_next_signal)) {
    std::size_t const old = m_joined.size();
    m_joined.resize(static_cast<std::size_t>(m_next_signal));
    for (std::size_t s = old; s < m_joined.size(); ++s) m_joined[s] = static_cast<NETLIST_BIT>(s);
  }
  NETLIST_BIT const root_a = find(a);
  NETLIST_BIT const root_b = find(b);
  if (root_a == root_b || (root_a < 0 && root_b < 0)) return;  // two constants: the first stays
  if (root_a < 0) {
    m_joined[static_cast<std::size_t>(root_b)] = root_a;
  } else if (root_b < 0) {
    m_joined[static_cast<std::size_t>(root_a)] = root_b;
  } else {
    m_joined[static_cast<std::size_t>(std::max(root_a, root_b))] = std::min(root_a, root_b);
  }
}

// Every bit of the module, of its nets and of its cells' outputs, becomes
// the root of the bits it is joined to.
void VERILOG_READER::join_assigned_bits() {
  for (std::size_t b = m_module_bits; b < m_netlist.m_bits.size(); ++b) {
    m_netlist.m_bits[b] = find(m_netlist.m_bits[b]);
  }
}

// --- Skipped parts -------------------------------------------------------------------------

void VERILOG_READER::skip_parenthesized() {
  std::uint32_t const at = m_token.m_at;
  std::size_t depth = 0;
  do {
    if (m_token.m_kind == KIND::END) fail(at, "a \"(\" that is not closed");
    if (at_symbol('(')) ++depth;
    if (at_symbol(')')) --depth;
    take();
  } while (depth > 0);
}

// After "#": a delay or parameter values.
void VERILOG_READER::skip_delay() {
  if (at_symbol('(')) {
    skip_parenthesized();
  } else if (m_token.m_kind == KIND::NUMBER || m_token.m_kind == KIND::NAME) {
    take();
  } else {
    unexpected("a delay");
  }
}

void VERILOG_READER::skip_statement() {
  std::uint32_t const at = m_token.m_at;
  while (!take_symbol(';')) {
    if (m_token.m_kind == KIND::END) fail(at, "a statement that does not end");
    take();
  }
}

void VERILOG_READER::skip_specify() {
  std::uint32_t const at = take().m_at;
  while (m_token.m_kind != KIND::NAME || m_token.m_escaped || m_token.m_text != "endspecify") {
    if (m_token.m_kind == KIND::END) fail(at, "a specify block that does not end");
    take();
  }
  take();
}

// --- Expressions ---------------------------------------------------------------------------

// Concatenations nest on an explicit stack. Bits are collected most
// significant first, as the text writes them, so that a concatenation needs
// no reordering; keep_expression() turns them round.
void VERILOG_READER::parse_expression(bool assigned) {
  m_frames.clear();
  for (;;) {
    if (at_symbol('{')) {
      std::uint32_t const at = take().m_at;
      if (m_token.m_kind != KIND::NUMBER) {
        m_frames.push_back({m_expression.size(), 0, at, false});
        continue;
      }
      TOKEN const number = take();
      if (take_symbol('{')) {
        std::uint64_t count = 0;
        if (assigned) fail(at, "the left side of an assign holds a replication");
        if (!number_value(number.m_text, &count)) {
          fail(number.m_at,
               "a replication needs a whole number, got " + quoted_text(number.m_text));
        }
        m_frames.push_back({m_expression.size(), count, at, true});
        continue;
      }
      if (assigned) fail(number.m_at, "the left side of an assign holds a constant");
      m_frames.push_back({m_expression.size(), 0, at, false});
      append_number(number);
    } else {
      parse_operand(assigned);
    }
    // What closes after the operand.
    for (;;) {
      if (m_frames.empty()) return;
      if (take_symbol(',')) break;
      if (!take_symbol('}')) unexpected("\",\" or \"}\"");
      FRAME const frame = m_frames.back();
      m_frames.pop_back();
      if (!frame.m_repeat) continue;
      repeat(frame.m_begin, frame.m_count, frame.m_at);
      if (!take_symbol('}')) unexpected("\"}\" after a replication");
    }
  }
}

void VERILOG_READER::parse_operand(bool assigned) {
  if (m_token.m_kind == KIND::NAME) {
    append_net(take(), assigned);
  } else if (m_token.m_kind == KIND::NUMBER) {
    if (assigned) fail(m_token.m_at, "the left side of an assign holds a constant");
    append_number(take());
  } else {
    unexpected("a net, a number or \"{\"");
  }
}

// A net, whole or selected; a name not declared is a net of one bit
// (unless `default_nettype none).
void VERILOG_READER::append_net(TOKEN const& name, bool assigned) {
  static_cast<void>(assigned);
  std::string_view const text = name_of(name);
  std::uint32_t const* const found = m_net_index.find(text);
  std::uint32_t state = 0;
  if (found != nullptr) {
    state = *found;
  } else {
    if (at_symbol('[') || !m_lexer.implicit_nets()) {
      fail(name.m_at, "no net named " + quoted_text(text));
    }
    state = static_cast<std::uint32_t>(m_nets.size());
    m_net_index.emplace(text, state);
    m_nets.push_back({add_net(text, RANGE(), name.m_at), false, false, false, false});
  }
  m_nets[state].m_used = true;
  NETLIST_NET const net = m_netlist.m_nets[m_nets[state].m_net];
  if (at_symbol('[')) {
    append_select(net);
    return;
  }
  std::uint32_t const width = net.m_bits_end - net.m_bits_begin;
  check_bits(width, name.m_at);
  for (std::uint32_t k = width; k-- > 0;)
    m_expression.push_back(m_netlist.m_bits[net.m_bits_begin + k]);
}

// net[i], net[m:l], net[b+:w] or net[b-:w]: the bits from the left index
// to the right one; an index outside the net is an x, as in Yosys.
void VERILOG_READER::append_select(NETLIST_NET const& net) {
  std::uint32_t const at = take().m_at;  // [
  std::int64_t left = parse_integer();
  std::int64_t right = left;
  if (take_symbol(':')) {
    right = parse_integer();
  } else if (m_token.m_kind == KIND::SYMBOL && (m_token.m_text == "+:" || m_token.m_text == "-:")) {
    bool const up = take().m_text == "+:";
    std::int64_t const width = parse_integer();
    if (width < 1) fail(at, "a part select of no bits");
    std::int64_t const low = up ? left : left - width + 1;
    std::int64_t const high = up ? left + width - 1 : left;
    left = net.m_upto ? low : high;
    right = net.m_upto ? high : low;
  }
  expect_symbol(']');
  // A select written against the net's direction (n[4:7] of n[7:4]) takes
  // its bits in the net's order, as Yosys reads it.
  if (net.m_upto ? left > right : left < right) std::swap(left, right);
  std::int64_t const width = net.m_bits_end - net.m_bits_begin;
  check_bits(static_cast<std::uint64_t>(left > right ? left - right : right - left) + 1, at);
  std::int64_t const step = left <= right ? 1 : -1;
  bool outside = false;
  for (std::int64_t index = left;; index += step) {
    std::int64_t const k = net.m_upto ? net.m_offset + width - 1 - index : index - net.m_offset;
    bool const inside = k >= 0 && k < width;
    m_expression.push_back(inside ? m_netlist.m_bits[net.m_bits_begin + k] : kUnknown);
    outside = outside || !inside;
    if (index == right) break;
  }
  if (outside && m_outside_selects++ == 0) m_first_outside_at = at;
}

// A number's bits: a plain number has 32 (more when its value needs them),
// a sized one its size, an unsized based one 32 or its digits'; a value
// shorter than its size is extended with 0s, or with x or z when its first
// digit is one.
void VERILOG_READER::append_number(TOKEN const& number) {
  std::size_t const quote = number.m_text.find('\'');
  if (quote != std::string_view::npos) {
    append_based(number, quote);
    return;
  }
  std::uint64_t value = 0;
  if (number.m_text.find_first_of(".eE") != std::string_view::npos) {
    fail(number.m_at, "a real number is no signal");
  }
  if (!number_value(number.m_text, &value)) fail(number.m_at, "a number wider than 64 bits");
  std::size_t width = 32;
  while (width < 64 && (value >> width) != 0) ++width;
  for (std::size_t b = width; b-- > 0;) m_expression.push_back((value >> b) & 1 ? kOne : kZero);
}

void VERILOG_READER::append_based(TOKEN const& number, std::size_t quote) {
  std::string_view size_text = number.m_text.substr(0, quote);
  while (!size_text.empty() && (size_text.back() == ' ' || size_text.back() == '\t')) {
    size_text.remove_suffix(1);
  }
  std::uint64_t size = 0;
  if (!size_text.empty() && (!number_value(size_text, &size) || size == 0)) {
    fail(number.m_at,
         "a number's size must be a whole number from 1, got " + quoted_text(size_text));
  }
  std::string_view rest = number.m_text.substr(quote + 1);
  if (rest[0] == 's' || rest[0] == 'S') rest.remove_prefix(1);
  m_digits.clear();
  char const base = static_cast<char>(rest[0] | 0x20);
  bool const fill_literal =
      rest.size() == 1 && (base == '0' || base == '1' || base == 'x' || base == 'z');
  if (fill_literal) {
    // '0, '1, 'x, 'z: one bit here, as no width comes from around it.
    m_digits.push_back(base == '0'   ? kZero
                       : base == '1' ? kOne
                       : base == 'x' ? kUnknown
                                     : kFloating);
  } else {
    decode_digits(number, base, rest.substr(1));
  }
  std::uint64_t const width =
      size != 0 ? size : std::max<std::uint64_t>(fill_literal ? 1 : 32, m_digits.size());
  check_bits(width, number.m_at);
  std::size_t const digits = m_digits.size();
  NETLIST_BIT const fill =
      m_digits[0] == kUnknown || m_digits[0] == kFloating ? m_digits[0] : kZero;
  for (std::uint64_t b = digits; b < width; ++b) m_expression.push_back(fill);
  std::size_t const kept = static_cast<std::size_t>(std::min<std::uint64_t>(width, digits));
  m_expression.insert(m_expression.end(), m_digits.end() - static_cast<std::ptrdiff_t>(kept),
                      m_digits.end());
}

void VERILOG_READER::decode_digits(TOKEN const& number, char base, std::string_view digits) {
  while (!digits.empty() && (digits[0] == ' ' || digits[0] == '\t')) digits.remove_prefix(1);
  if (base == 'd') {
    std::uint64_t value = 0;
    char const first = digits.empty() ? '\0' : static_cast<char>(digits[0] | 0x20);
    if (digits.size() == 1 && (first == 'x' || first == 'z' || first == '?')) {
      m_digits.push_back(first == 'x' ? kUnknown : kFloating);
      return;
    }
    if (!number_value(digits, &value)) {
      fail(number.m_at, "a decimal number of more than 64 bits or with other digits: " +
                            quoted_text(number.m_text));
    }
    std::size_t width = 1;
    while (width < 64 && (value >> width) != 0) ++width;
    for (std::size_t b = width; b-- > 0;) m_digits.push_back((value >> b) & 1 ? kOne : kZero);
    return;
  }
  int const per_digit = base == 'b' ? 1 : base == 'o' ? 3 : base == 'h' ? 4 : 0;
  if (per_digit == 0)
    fail(number.m_at, "a number of an unknown base: " + quoted_text(number.m_text));
  for (char const c : digits) {
    if (c == '_') continue;
    char const lower = static_cast<char>(c | 0x20);
    if (lower == 'x' || lower == 'z' || c == '?') {
      m_digits.insert(m_digits.end(), static_cast<std::size_t>(per_digit),
                      lower == 'x' ? kUnknown : kFloating);
      continue;
    }
    int const digit = digit_value(c);
    if (digit < 0 || digit >= (1 << per_digit)) {
      fail(number.m_at, "the digit " + quoted_text(std::string_view(&c, 1)) + " in " +
                            quoted_text(number.m_text) + " is not of its base");
    }
    for (int b = per_digit; b-- > 0;) m_digits.push_back((digit >> b) & 1 ? kOne : kZero);
  }
  if (m_digits.empty()) fail(number.m_at, "a number without digits");
}

void VERILOG_READER::repeat(std::size_t begin, std::uint64_t count, std::uint32_t at) {
  std::size_t const size = m_expression.size() - begin;
  if (count == 0) {
    m_expression.resize(begin);
    return;
  }
  if (size != 0 && count - 1 > m_bits_limit / size) check_bits(m_bits_limit + 1, at);
  check_bits(size * (count - 1), at);
  for (std::uint64_t c = 1; c < count; ++c) {
    for (std::size_t b = 0; b < size; ++b) m_expression.push_back(m_expression[begin + b]);
  }
}

// A whole number in a range or a select; parameters are not known here.
std::int64_t VERILOG_READER::parse_integer() {
  bool const negative = take_symbol('-');
  if (m_token.m_kind == KIND::NAME) {
    fail(m_token.m_at, "a range or select needs a number, got " + quoted_text(name_of(m_token)) +
                           " (parameters are not supported)");
  }
  if (m_token.m_kind != KIND::NUMBER) unexpected("a number");
  TOKEN const number = take();
  std::uint64_t value = 0;
  if (!number_value(number.m_text, &value) || value > (std::uint64_t{1} << 40)) {
    fail(number.m_at, "expected a whole number of at most 2^40, got " + quoted_text(number.m_text));
  }
  return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

RANGE VERILOG_READER::parse_range() {
  take();  // [
  RANGE range;
  range.m_left = parse_integer();
  expect_symbol(':');
  range.m_right = parse_integer();
  expect_symbol(']');
  range.m_given = true;
  return range;
}

std::pair<std::uint32_t, std::uint32_t> VERILOG_READER::keep_expression() {
  std::uint32_t const begin = static_cast<std::uint32_t>(m_netlist.m_bits.size());
  m_netlist.m_bits.insert(m_netlist.m_bits.end(), m_expression.rbegin(), m_expression.rend());
  return {begin, static_cast<std::uint32_t>(m_netlist.m_bits.size())};
}

void VERILOG_READER::check_bits(std::uint64_t more, std::uint32_t at) const {
  std::uint64_t const used = m_netlist.m_bits.size() + m_expression.size();
  if (more > m_bits_limit - std::min(used, m_bits_limit)) {
    fail(at, "nets and connections of more than " + decimal(m_bits_limit) + " bits (the limit is " +
                 decimal(kBitsFloor) + " bits and " + decimal(kBitsPerByte) +
                 " per byte of the netlist)");
  }
}

}  // namespace

void read_verilog_netlist(INPUT_TEXT const& text, READ_OPTIONS const& options,
                          CELL_LIBRARY const* library, DESIGN_RECORDS* records) {
  VERILOG_READER(text, options, library).read(records);
}

}  // namespace zema_tool
