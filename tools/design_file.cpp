// Reads a design file with simdjson's On Demand API into compact arrays (one
// record per instance name, one per atom, one reference per oterm entry),
// then assigns ids, resolves references, checks the netlist rules and builds
// the DESIGN. The parser and the file's text are gone before the DESIGN is
// built, so a big design does not hold both at once.
//
// The hierarchy is read with an explicit stack of object iterators rather
// than by recursion: a hierarchy of ten thousand levels must not exhaust the
// stack, and levels below the limit are refused before they are entered, so
// the JSON nesting the parser sees stays within the depth it was sized for.
#include "tools/design_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "h/cdb_net_sys.h"
#include "tools/tool_error.h"

namespace zema_tool {
namespace {

namespace od = simdjson::ondemand;

constexpr std::uint32_t kNone = 0xffffffffu;
constexpr std::uint64_t kMaxId = 0xffffffffu;
constexpr int kTypeCount = CDB_ATOM_BASIC_TYPE_COUNT;
// Every object of level L sits at JSON depth 2L + 2 and its children array one
// deeper; names and the netlist nest less than that.
constexpr std::size_t kMaxJsonDepth = 2 * std::size_t(kMaxHierarchyLevels) + 64;

std::string errno_text(int error) { return std::strerror(error != 0 ? error : EIO); }

// The whole of `path` (standard input for "-") in a buffer with the padding
// that simdjson reads past the end.
simdjson::padded_string read_input(std::string const& path, std::string const& display) {
  bool const from_stdin = path == "-";
  std::FILE* stream = from_stdin ? stdin : std::fopen(path.c_str(), "rb");
  if (stream == nullptr) throw TOOL_ERROR(display, "cannot open: " + errno_text(errno));
  struct CLOSER {
    std::FILE* m_stream;
    bool m_close;
    ~CLOSER() {
      if (m_close) std::fclose(m_stream);
    }
  } const closer{stream, !from_stdin};

  struct stat info;
  bool const known = fstat(fileno(stream), &info) == 0;
  if (known && S_ISDIR(info.st_mode))
    throw TOOL_ERROR(display, "cannot read: " + errno_text(EISDIR));
  std::size_t const limit = simdjson::SIMDJSON_MAXSIZE_BYTES - simdjson::SIMDJSON_PADDING;
  if (known && S_ISREG(info.st_mode) && !from_stdin) {
    // A regular file is read straight into the padded buffer.
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
      throw TOOL_ERROR(display, "the file is larger than 4 GiB");
    }
    std::size_t const size = static_cast<std::size_t>(info.st_size);
    simdjson::padded_string text(size);
    if (text.data() == nullptr) throw std::bad_alloc();
    if (std::fread(text.data(), 1, size, stream) != size) {
      throw TOOL_ERROR(display, "cannot read: " + errno_text(std::ferror(stream) ? errno : EIO));
    }
    return text;
  }
  std::string content;
  std::vector<char> chunk(1 << 16);
  for (;;) {
    std::size_t const got = std::fread(chunk.data(), 1, chunk.size(), stream);
    content.append(chunk.data(), got);
    if (content.size() > limit) throw TOOL_ERROR(display, "the input is larger than 4 GiB");
    if (got < chunk.size()) break;
  }
  if (std::ferror(stream)) throw TOOL_ERROR(display, "cannot read: " + errno_text(errno));
  simdjson::padded_string text(content);
  if (text.data() == nullptr) throw std::bad_alloc();
  return text;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether `text` is one JSON number token.
bool is_json_number(std::string_view text) {
  std::size_t i = 0;
  std::size_t const n = text.size();
  auto digits = [&] {
    std::size_t const start = i;
    while (i < n && is_digit(text[i])) ++i;
    return i > start;
  };
  if (i < n && text[i] == '-') ++i;
  if (i < n && text[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < n && text[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == n;
}

// A raw token for a message: trailing blanks dropped, cut after 40 bytes at
// a character boundary.
std::string token_text(std::string_view raw) {
  while (!raw.empty() &&
         (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\n' || raw.back() == '\r')) {
    raw.remove_suffix(1);
  }
  if (raw.size() <= 40) return std::string(raw);
  std::size_t cut = 40;
  while (cut > 0 && (static_cast<unsigned char>(raw[cut]) & 0xc0) == 0x80) --cut;
  return std::string(raw.substr(0, cut)) + "...";
}

char const* type_words(od::json_type type) {
  switch (type) {
    case od::json_type::object:
      return "an object";
    case od::json_type::array:
      return "an array";
    case od::json_type::string:
      return "a string";
    case od::json_type::number:
      return "a number";
    case od::json_type::boolean:
      return "a boolean";
    case od::json_type::null:
      return "null";
  }
  return "a value";
}

// "root", then ".children[i]" per level; long paths keep their first four and
// last three levels, so a message about a deep instance stays one short line.
std::string hierarchy_place(std::vector<std::uint32_t> const& positions) {
  std::string place = "root";
  std::size_t const count = positions.size();
  auto add = [&](std::size_t level) {
    place += ".children[";
    place += std::to_string(positions[level]);
    place += ']';
  };
  if (count <= 8) {
    for (std::size_t level = 0; level < count; ++level) add(level);
    return place;
  }
  for (std::size_t level = 0; level < 4; ++level) add(level);
  place += ".(" + std::to_string(count - 7) + " more levels)";
  for (std::size_t level = count - 3; level < count; ++level) add(level);
  return place;
}

std::string type_label(int type) {
  return "type-" + std::to_string(type) + " (" + zema_host::atom_type_name(type) + ")";
}

bool is_io_type(int type) {
  return type == CDB_ATOM_IO_IBUF || type == CDB_ATOM_PIN || type == CDB_ATOM_IO_DDR;
}

// Declared ids to their records: open addressing over a power-of-two table
// at most half full, so a lookup is about one cache miss.
class ID_INDEX {
 public:
  void reserve(std::size_t count) {
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    m_slots.assign(size, SLOT{0, kNone});
    m_mask = size - 1;
  }

  // Enters `id` for `record` unless it is there already; gives the record
  // that already holds it, or kNone.
  std::uint32_t insert(std::uint32_t id, std::uint32_t record) {
    for (std::size_t i = start(id);; i = (i + 1) & m_mask) {
      if (m_slots[i].m_record == kNone) {
        m_slots[i] = {id, record};
        return kNone;
      }
      if (m_slots[i].m_id == id) return m_slots[i].m_record;
    }
  }

  std::uint32_t find(std::uint32_t id) const {
    for (std::size_t i = start(id);; i = (i + 1) & m_mask) {
      if (m_slots[i].m_record == kNone || m_slots[i].m_id == id) return m_slots[i].m_record;
    }
  }

 private:
  struct SLOT {
    std::uint32_t m_id;
    std::uint32_t m_record;  // kNone: empty
  };

  std::size_t start(std::uint32_t id) const {
    std::uint64_t const h = id * 0x9e3779b97f4a7c15ull;
    return static_cast<std::size_t>(h ^ (h >> 32)) & m_mask;
  }

  std::vector<SLOT> m_slots;
  std::size_t m_mask = 0;
};

class DESIGN_READER {
 public:
  explicit DESIGN_READER(std::string file) : m_file(std::move(file)) {
    m_texts.push_back('\0');  // offset 0: the empty name
  }

  void parse(simdjson::padded_string const& json);
  std::unique_ptr<LOADED_DESIGN> finish();

 private:
  enum KIND : std::uint8_t { KIND_HIERARCHY, KIND_NAMES, KIND_NETLIST };

  // One instance name, in document order of the objects that declare them.
  struct NAME_RECORD {
    std::uint32_t m_parent;  // hierarchy: the parent's record; netlist: the oterm position,
                             // kNone for the atom's own name
    std::uint32_t m_pos;     // hierarchy: position among its siblings; names and netlist:
                             // the index in that array
    std::uint32_t m_text;    // offset of the NUL-terminated unit name in m_texts
    std::uint32_t m_id;
    KIND m_kind;
    bool m_has_id;
  };

  enum REF_KIND : std::uint8_t { REF_NONE, REF_NULL_OTERM, REF_ID, REF_RECORD };
  struct REF {
    std::uint32_t m_value;  // the id (REF_ID) or the record (REF_RECORD)
    REF_KIND m_kind;
  };

  struct ATOM_RECORD {
    REF m_name;
    std::uint32_t m_oterm_begin;  // first entry in m_oterms; the next atom's is the end
    int m_type;
  };

  // One open object of the hierarchy: its fields, and its children while the
  // "children" array is being read.
  struct FRAME {
    od::object_iterator m_field;
    od::object_iterator m_fields_end;
    od::array_iterator m_child;
    od::array_iterator m_children_end;
    std::uint32_t m_record = 0;
    std::uint32_t m_position = kNone;  // among the parent's children
    std::uint32_t m_children = 0;      // children opened so far
    unsigned m_seen = 0;
    bool m_in_children = false;
  };

  enum SECTION { SECTION_TOP, SECTION_ROOT, SECTION_NAMES, SECTION_NETLIST };
  enum SEEN : unsigned {
    SEEN_NAME = 1,
    SEEN_ID = 2,
    SEEN_CHILDREN = 4,
    SEEN_TYPE = 8,
    SEEN_OTERMS = 16
  };

  [[noreturn]] void malformed(simdjson::error_code error, std::string message = std::string());
  void check(simdjson::error_code error) {
    if (error) malformed(error);
  }
  std::string place(std::string_view field = std::string_view()) const;
  std::string place_of(std::uint32_t record) const;
  std::string atom_place(std::uint32_t atom, std::uint32_t oterm) const;
  void mark_seen(unsigned* seen, unsigned bit, std::string_view key);

  od::json_type type_of(od::value& value);
  std::string describe(od::value& value, od::json_type type);
  [[noreturn]] void wrong_type(od::value& value, od::json_type type, std::string const& where,
                               char const* expected);
  // Both name their place as place(field), built only for a message.
  std::uint32_t read_text(od::value& value, std::string_view field);
  std::uint32_t read_id(od::value& value, std::string_view field, bool declared);

  void read_hierarchy(od::value& root);
  void open_instance(od::value& value, std::uint32_t parent, std::uint32_t position);
  void read_instance_field(FRAME& frame, od::field& field);
  void read_names(od::value& value);
  std::uint32_t read_name_object(od::value& value, KIND kind, std::uint32_t pos,
                                 std::uint32_t parent);
  void read_netlist(od::value& value);
  int read_type(od::value& value);
  REF read_ref(od::value& value, bool oterm);

  void assign_ids();
  void check_declared_ids();
  bool is_inside(std::uint32_t record) const;
  void resolve(REF* ref, std::uint32_t atom, std::uint32_t oterm);
  void check_netlist();
  std::unique_ptr<LOADED_DESIGN> build();

  std::string m_file;
  simdjson::padded_string const* m_json = nullptr;
  od::document* m_doc = nullptr;

  std::vector<NAME_RECORD> m_records;
  std::vector<char> m_texts;
  std::vector<ATOM_RECORD> m_atoms;
  std::vector<REF> m_oterms;
  std::uint64_t m_largest_id = 0;
  ID_INDEX m_declared;  // every declared name by id, once ids are assigned

  SECTION m_section = SECTION_TOP;
  std::vector<FRAME> m_stack;
  std::uint32_t m_item = 0;
  std::uint32_t m_oterm = kNone;
  bool m_in_name = false;
};

// --- Places and messages ------------------------------------------------------

void DESIGN_READER::malformed(simdjson::error_code error, std::string message) {
  if (message.empty()) message = std::string("malformed JSON: ") + simdjson::error_message(error);
  char const* location = nullptr;
  if (m_doc != nullptr && m_json != nullptr && !m_doc->current_location().get(location) &&
      location >= m_json->data() && location <= m_json->data() + m_json->size()) {
    std::size_t line = 1;
    char const* line_start = m_json->data();
    for (char const* p = m_json->data(); p < location; ++p) {
      if (*p == '\n') {
        ++line;
        line_start = p + 1;
      }
    }
    throw TOOL_ERROR(
        m_file + ":" + std::to_string(line) + ":" + std::to_string(location - line_start + 1),
        message);
  }
  throw TOOL_ERROR(m_file, message);
}

std::string DESIGN_READER::place(std::string_view field) const {
  std::string where;
  switch (m_section) {
    case SECTION_TOP:
      return field.empty() ? std::string("top level") : std::string(field);
    case SECTION_ROOT: {
      std::vector<std::uint32_t> positions;
      for (std::size_t i = 1; i < m_stack.size(); ++i) positions.push_back(m_stack[i].m_position);
      where = hierarchy_place(positions);
      break;
    }
    case SECTION_NAMES:
      where = "names[" + std::to_string(m_item) + "]";
      break;
    case SECTION_NETLIST:
      where = "netlist[" + std::to_string(m_item) + "]";
      if (m_oterm != kNone) {
        where += ".oterms[" + std::to_string(m_oterm) + "]";
      } else if (m_in_name) {
        where += ".name";
      }
      break;
  }
  if (!field.empty()) {
    where += '.';
    where += field;
  }
  return where;
}

std::string DESIGN_READER::place_of(std::uint32_t record) const {
  NAME_RECORD const& name = m_records[record];
  switch (name.m_kind) {
    case KIND_HIERARCHY: {
      std::vector<std::uint32_t> positions;
      for (std::uint32_t r = record; m_records[r].m_parent != kNone; r = m_records[r].m_parent) {
        positions.push_back(m_records[r].m_pos);
      }
      std::reverse(positions.begin(), positions.end());
      return hierarchy_place(positions);
    }
    case KIND_NAMES:
      return "names[" + std::to_string(name.m_pos) + "]";
    case KIND_NETLIST:
      return atom_place(name.m_pos, name.m_parent) + (name.m_parent == kNone ? ".name" : "");
  }
  return std::string();
}

std::string DESIGN_READER::atom_place(std::uint32_t atom, std::uint32_t oterm) const {
  std::string where = "netlist[" + std::to_string(atom) + "]";
  if (oterm != kNone) where += ".oterms[" + std::to_string(oterm) + "]";
  return where;
}

void DESIGN_READER::mark_seen(unsigned* seen, unsigned bit, std::string_view key) {
  if (*seen & bit) throw TOOL_ERROR(place(key), "duplicate key " + quoted(key));
  *seen |= bit;
}

od::json_type DESIGN_READER::type_of(od::value& value) {
  od::json_type type;
  check(value.type().get(type));
  return type;
}

// Describes a value for a message, after making sure that a scalar is a
// well-formed token: a misspelt literal is malformed JSON, not a wrong type.
std::string DESIGN_READER::describe(od::value& value, od::json_type type) {
  if (type == od::json_type::object || type == od::json_type::array) return type_words(type);
  std::string raw = token_text(value.raw_json_token());
  bool well_formed = true;
  if (type == od::json_type::number) {
    well_formed = is_json_number(raw);
  } else if (type == od::json_type::boolean) {
    bool ignored;
    well_formed = !value.get_bool().get(ignored);
  } else if (type == od::json_type::null) {
    bool is_null = false;
    well_formed = !value.is_null().get(is_null) && is_null;
  } else if (type == od::json_type::string) {
    std::string_view ignored;
    check(value.get_string().get(ignored));
  }
  if (!well_formed) malformed(simdjson::INCORRECT_TYPE, "malformed JSON: invalid token " + raw);
  return raw;
}

void DESIGN_READER::wrong_type(od::value& value, od::json_type type, std::string const& where,
                               char const* expected) {
  std::string const got = describe(value, type);
  throw TOOL_ERROR(where, std::string("expected ") + expected + ", got " + got);
}

std::uint32_t DESIGN_READER::read_text(od::value& value, std::string_view field) {
  od::json_type const type = type_of(value);
  if (type != od::json_type::string) wrong_type(value, type, place(field), "a string");
  std::string_view text;
  check(value.get_string().get(text));
  if (std::memchr(text.data(), '\0', text.size()) != nullptr) {
    throw TOOL_ERROR(place(field), "a name must not contain the character U+0000");
  }
  std::size_t const offset = m_texts.size();
  m_texts.insert(m_texts.end(), text.begin(), text.end());
  m_texts.push_back('\0');
  return static_cast<std::uint32_t>(offset);
}

// A declared id (hierarchy, "names") is 1 to 4294967295; the id of a name
// made in the netlist may also be 0.
std::uint32_t DESIGN_READER::read_id(od::value& value, std::string_view field, bool declared) {
  od::json_type const type = type_of(value);
  char const* const expected =
      declared ? "an id from 1 to 4294967295" : "an id from 0 to 4294967295";
  if (type != od::json_type::number) wrong_type(value, type, place(field), expected);
  std::uint64_t id;
  if (value.get_uint64().get(id) || id > kMaxId) wrong_type(value, type, place(field), expected);
  if (declared && id == 0) throw TOOL_ERROR(place(field), "a declared id must not be 0");
  m_largest_id = std::max(m_largest_id, id);
  return static_cast<std::uint32_t>(id);
}

// --- Reading ---------------------------------------------------------------------

void DESIGN_READER::parse(simdjson::padded_string const& json) {
  od::parser parser;
  if (parser.allocate(json.size(), kMaxJsonDepth)) throw std::bad_alloc();
  od::document doc;
  m_json = &json;
  // The names are never longer than the file; untouched capacity costs nothing.
  m_texts.reserve(json.size() + 1);
  check(parser.iterate(json).get(doc));
  m_doc = &doc;

  od::json_type type;
  check(doc.type().get(type));
  if (type != od::json_type::object) {
    throw TOOL_ERROR("top level", std::string("expected an object, got ") + type_words(type));
  }
  od::object top;
  check(doc.get_object().get(top));
  unsigned seen = 0;
  for (auto result : top) {
    od::field field;
    check(std::move(result).get(field));
    std::string_view key;
    check(field.unescaped_key().get(key));
    if (key == "root") {
      mark_seen(&seen, 1, key);
      read_hierarchy(field.value());
    } else if (key == "names") {
      mark_seen(&seen, 2, key);
      read_names(field.value());
    } else if (key == "netlist") {
      mark_seen(&seen, 4, key);
      read_netlist(field.value());
    } else {
      throw TOOL_ERROR(std::string(key), "unknown key " + quoted(key) +
                                             " (expected \"root\", \"names\" or \"netlist\")");
    }
    m_section = SECTION_TOP;
  }
  if (!(seen & 1)) throw TOOL_ERROR("top level", "missing \"root\"");
  char const* rest = nullptr;
  if (!doc.current_location().get(rest)) {
    malformed(simdjson::TAPE_ERROR,
              "malformed JSON: unexpected content after the top-level object");
  }
  m_doc = nullptr;
  m_json = nullptr;
}

void DESIGN_READER::read_hierarchy(od::value& root) {
  m_section = SECTION_ROOT;
  m_stack.clear();
  open_instance(root, kNone, kNone);
  while (!m_stack.empty()) {
    FRAME& frame = m_stack.back();
    if (frame.m_in_children) {
      if (frame.m_child != frame.m_children_end) {
        od::value child;
        check((*frame.m_child).get(child));
        std::uint32_t const position = frame.m_children++;
        if (m_stack.size() > kMaxHierarchyLevels) {
          std::vector<std::uint32_t> positions;
          for (std::size_t i = 1; i < m_stack.size(); ++i) {
            positions.push_back(m_stack[i].m_position);
          }
          positions.push_back(position);
          throw TOOL_ERROR(
              hierarchy_place(positions),
              "the hierarchy is deeper than " + std::to_string(kMaxHierarchyLevels) + " levels");
        }
        open_instance(child, frame.m_record, position);  // invalidates `frame`
      } else {
        frame.m_in_children = false;
        ++frame.m_field;
      }
      continue;
    }
    if (frame.m_field != frame.m_fields_end) {
      od::field field;
      check((*frame.m_field).get(field));
      read_instance_field(frame, field);
      if (!frame.m_in_children) ++frame.m_field;
      continue;
    }
    if (!(frame.m_seen & SEEN_NAME) && m_stack.size() > 1) {
      throw TOOL_ERROR(place(), "missing \"name\"");
    }
    m_stack.pop_back();
    if (!m_stack.empty()) ++m_stack.back().m_child;
  }
}

void DESIGN_READER::open_instance(od::value& value, std::uint32_t parent, std::uint32_t position) {
  m_stack.emplace_back();
  FRAME& frame = m_stack.back();
  frame.m_position = position;
  od::json_type const type = type_of(value);
  if (type != od::json_type::object) wrong_type(value, type, place(), "an object");
  od::object object;
  check(value.get_object().get(object));
  check(object.begin().get(frame.m_field));
  check(object.end().get(frame.m_fields_end));
  frame.m_record = static_cast<std::uint32_t>(m_records.size());
  m_records.push_back({parent, position, 0, 0, KIND_HIERARCHY, false});
}

void DESIGN_READER::read_instance_field(FRAME& frame, od::field& field) {
  std::string_view key;
  check(field.unescaped_key().get(key));
  NAME_RECORD& record = m_records[frame.m_record];
  if (key == "name") {
    mark_seen(&frame.m_seen, SEEN_NAME, key);
    record.m_text = read_text(field.value(), key);
    if (record.m_parent == kNone && m_texts[record.m_text] != '\0') {
      throw TOOL_ERROR(place(key), "the root's name must be empty");
    }
  } else if (key == "id") {
    mark_seen(&frame.m_seen, SEEN_ID, key);
    record.m_id = read_id(field.value(), key, true);
    record.m_has_id = true;
  } else if (key == "children") {
    mark_seen(&frame.m_seen, SEEN_CHILDREN, key);
    od::value& value = field.value();
    od::json_type const type = type_of(value);
    if (type != od::json_type::array) wrong_type(value, type, place(key), "an array");
    od::array children;
    check(value.get_array().get(children));
    check(children.begin().get(frame.m_child));
    check(children.end().get(frame.m_children_end));
    frame.m_in_children = true;
  } else {
    throw TOOL_ERROR(place(key),
                     "unknown key " + quoted(key) + " (expected \"name\", \"id\" or \"children\")");
  }
}

void DESIGN_READER::read_names(od::value& value) {
  od::json_type const type = type_of(value);
  if (type != od::json_type::array) wrong_type(value, type, "names", "an array");
  od::array names;
  check(value.get_array().get(names));
  m_section = SECTION_NAMES;
  m_item = 0;
  for (auto result : names) {
    check(result.error());
    od::value item = result.value_unsafe();
    read_name_object(item, KIND_NAMES, m_item, kNone);
    ++m_item;
  }
}

std::uint32_t DESIGN_READER::read_name_object(od::value& value, KIND kind, std::uint32_t pos,
                                              std::uint32_t parent) {
  od::json_type const type = type_of(value);
  if (type != od::json_type::object) wrong_type(value, type, place(), "an object");
  od::object object;
  check(value.get_object().get(object));
  std::uint32_t const index = static_cast<std::uint32_t>(m_records.size());
  m_records.push_back({parent, pos, 0, 0, kind, false});
  unsigned seen = 0;
  for (auto result : object) {
    od::field field;
    check(std::move(result).get(field));
    std::string_view key;
    check(field.unescaped_key().get(key));
    if (key == "name") {
      mark_seen(&seen, SEEN_NAME, key);
      m_records[index].m_text = read_text(field.value(), key);
    } else if (key == "id") {
      mark_seen(&seen, SEEN_ID, key);
      m_records[index].m_id = read_id(field.value(), key, kind == KIND_NAMES);
      m_records[index].m_has_id = true;
    } else {
      throw TOOL_ERROR(place(key), "unknown key " + quoted(key) + " (expected \"name\" or \"id\")");
    }
  }
  if (!(seen & SEEN_NAME)) throw TOOL_ERROR(place(), "missing \"name\"");
  return index;
}

void DESIGN_READER::read_netlist(od::value& value) {
  od::json_type const type = type_of(value);
  if (type != od::json_type::array) wrong_type(value, type, "netlist", "an array");
  od::array atoms;
  check(value.get_array().get(atoms));
  m_section = SECTION_NETLIST;
  m_item = 0;
  for (auto result : atoms) {
    check(result.error());
    od::value item = result.value_unsafe();
    m_oterm = kNone;
    m_in_name = false;
    od::json_type const item_type = type_of(item);
    if (item_type != od::json_type::object) wrong_type(item, item_type, place(), "an object");
    od::object object;
    check(item.get_object().get(object));
    ATOM_RECORD atom{{0, REF_NONE}, static_cast<std::uint32_t>(m_oterms.size()), 0};
    unsigned seen = 0;
    for (auto field_result : object) {
      od::field field;
      check(std::move(field_result).get(field));
      std::string_view key;
      check(field.unescaped_key().get(key));
      if (key == "type") {
        mark_seen(&seen, SEEN_TYPE, key);
        atom.m_type = read_type(field.value());
      } else if (key == "name") {
        mark_seen(&seen, SEEN_NAME, key);
        m_in_name = true;
        atom.m_name = read_ref(field.value(), false);
        m_in_name = false;
      } else if (key == "oterms") {
        mark_seen(&seen, SEEN_OTERMS, key);
        od::value& oterms_value = field.value();
        od::json_type const oterms_type = type_of(oterms_value);
        if (oterms_type != od::json_type::array) {
          wrong_type(oterms_value, oterms_type, place(key), "an array");
        }
        od::array oterms;
        check(oterms_value.get_array().get(oterms));
        m_oterm = 0;
        for (auto oterm_result : oterms) {
          check(oterm_result.error());
          od::value oterm = oterm_result.value_unsafe();
          m_oterms.push_back(read_ref(oterm, true));
          ++m_oterm;
        }
        m_oterm = kNone;
      } else {
        throw TOOL_ERROR(place(key), "unknown key " + quoted(key) +
                                         " (expected \"type\", \"name\" or \"oterms\")");
      }
    }
    if (!(seen & SEEN_TYPE)) throw TOOL_ERROR(place(), "missing \"type\"");
    m_atoms.push_back(atom);
    ++m_item;
  }
  m_oterm = kNone;
}

int DESIGN_READER::read_type(od::value& value) {
  od::json_type const type = type_of(value);
  if (type == od::json_type::string) {
    std::string_view text;
    check(value.get_string().get(text));
    // No type name is longer than 15 bytes or holds a NUL.
    char name[32] = {};
    bool const fits =
        text.size() < sizeof name && std::memchr(text.data(), '\0', text.size()) == nullptr;
    if (fits) std::memcpy(name, text.data(), text.size());
    int const found = fits ? zema_host::atom_type_from_name(name) : -1;
    if (found < 0) throw TOOL_ERROR(place("type"), "unknown type name " + quoted(text));
    return found;
  }
  char const* const expected = "a type from 0 to 49 or a type name";
  if (type != od::json_type::number) wrong_type(value, type, place("type"), expected);
  std::int64_t number;
  if (!value.get_int64().get(number) && number >= 0 && number < kTypeCount) {
    return static_cast<int>(number);
  }
  std::string const raw = describe(value, type);
  // A fraction or an exponent is no type at all; an integer is out of range.
  if (raw.find_first_of(".eE") != std::string::npos) {
    wrong_type(value, type, place("type"), expected);
  }
  throw TOOL_ERROR(place("type"), "type " + raw + " is outside 0 to 49");
}

DESIGN_READER::REF DESIGN_READER::read_ref(od::value& value, bool oterm) {
  od::json_type const type = type_of(value);
  switch (type) {
    case od::json_type::null:
      describe(value, type);  // refuses a misspelt null
      return {0, oterm ? REF_NULL_OTERM : REF_NONE};
    case od::json_type::number:
      return {read_id(value, std::string_view(), false), REF_ID};
    case od::json_type::object:
      return {read_name_object(value, KIND_NETLIST, m_item, oterm ? m_oterm : kNone), REF_RECORD};
    default:
      wrong_type(value, type, place(), "an id, a name object or null");
  }
}

// --- Ids, references and netlist rules ----------------------------------------------

// Missing ids follow the largest id given anywhere in the file, in document
// order of the objects that lack them.
void DESIGN_READER::assign_ids() {
  std::uint64_t next = m_largest_id + 1;
  for (std::uint32_t record = 0; record < m_records.size(); ++record) {
    NAME_RECORD& name = m_records[record];
    if (name.m_has_id) continue;
    if (next > kMaxId) {
      throw TOOL_ERROR(place_of(record), "no id left to assign: the largest id given is " +
                                             std::to_string(m_largest_id));
    }
    name.m_id = static_cast<std::uint32_t>(next++);
  }
}

// Enters the declared names in file order, so the first clash found is the
// duplicate whose second declaration comes first.
void DESIGN_READER::check_declared_ids() {
  std::size_t declared = 0;
  for (NAME_RECORD const& name : m_records) declared += name.m_kind != KIND_NETLIST;
  m_declared.reserve(declared);
  for (std::uint32_t record = 0; record < m_records.size(); ++record) {
    NAME_RECORD const& name = m_records[record];
    if (name.m_kind == KIND_NETLIST) continue;
    std::uint32_t const first = m_declared.insert(name.m_id, record);
    if (first != kNone) {
      throw TOOL_ERROR(place_of(record) + ".id", "duplicate id " + std::to_string(name.m_id) +
                                                     " (first declared at " + place_of(first) +
                                                     ")");
    }
  }
}

// Inside the hierarchy as the fusion converter sees it: by id, so a name made
// in the netlist with the id of a hierarchy instance counts as that instance.
bool DESIGN_READER::is_inside(std::uint32_t record) const {
  NAME_RECORD const& name = m_records[record];
  if (name.m_kind == KIND_HIERARCHY) return true;
  if (name.m_kind == KIND_NAMES) return false;
  std::uint32_t const declared = m_declared.find(name.m_id);
  return declared != kNone && m_records[declared].m_kind == KIND_HIERARCHY;
}

void DESIGN_READER::resolve(REF* ref, std::uint32_t atom, std::uint32_t oterm) {
  if (ref->m_kind != REF_ID) return;
  std::uint32_t const record = m_declared.find(ref->m_value);
  if (record == kNone) {
    throw TOOL_ERROR(atom_place(atom, oterm) + (oterm == kNone ? ".name" : ""),
                     "no instance name has id " + std::to_string(ref->m_value));
  }
  *ref = {record, REF_RECORD};
}

// What the fusion converter requires of the netlist: a type-26 atom and an
// atom of type 3, 35 or 36 are named by an instance of the hierarchy, and so
// is every oterm of an atom of another type than 26.
void DESIGN_READER::check_netlist() {
  for (std::uint32_t index = 0; index < m_atoms.size(); ++index) {
    ATOM_RECORD& atom = m_atoms[index];
    resolve(&atom.m_name, index, kNone);
    int const type = atom.m_type;
    if (type == CDB_ATOM_COMB || is_io_type(type)) {
      if (atom.m_name.m_kind == REF_NONE) {
        throw TOOL_ERROR(atom_place(index, kNone),
                         "a " + type_label(type) + " atom needs a name inside the hierarchy");
      }
      std::uint32_t const record = atom.m_name.m_value;
      if (!is_inside(record)) {
        throw TOOL_ERROR(atom_place(index, kNone) + ".name",
                         "a " + type_label(type) +
                             " atom must be named by an instance inside the hierarchy; id " +
                             std::to_string(m_records[record].m_id) + " is not one");
      }
    }
    std::uint32_t const end = index + 1 < m_atoms.size()
                                  ? m_atoms[index + 1].m_oterm_begin
                                  : static_cast<std::uint32_t>(m_oterms.size());
    for (std::uint32_t entry = atom.m_oterm_begin; entry < end; ++entry) {
      std::uint32_t const position = entry - atom.m_oterm_begin;
      REF& ref = m_oterms[entry];
      if (ref.m_kind == REF_NULL_OTERM) continue;
      resolve(&ref, index, position);
      if (type == CDB_ATOM_COMB) continue;
      if (ref.m_kind == REF_NONE) {
        throw TOOL_ERROR(
            atom_place(index, position),
            "an oterm of a " + type_label(type) + " atom needs a name inside the hierarchy");
      }
      if (!is_inside(ref.m_value)) {
        throw TOOL_ERROR(atom_place(index, position),
                         "an oterm of a " + type_label(type) +
                             " atom must be named by an instance inside the hierarchy; id " +
                             std::to_string(m_records[ref.m_value].m_id) + " is not one");
      }
    }
  }
}

std::unique_ptr<LOADED_DESIGN> DESIGN_READER::build() {
  auto loaded = std::make_unique<LOADED_DESIGN>();
  zema_host::DESIGN& design = loaded->m_design;
  design.reserve(m_records.size(), m_atoms.size(), m_oterms.size());
  std::vector<HDB_INSTANCE_NAME const*> names(m_records.size());
  for (std::size_t record = 0; record < m_records.size(); ++record) {
    NAME_RECORD const& name = m_records[record];
    char const* const text = &m_texts[name.m_text];
    if (name.m_kind != KIND_HIERARCHY) {
      names[record] = design.add_free_name(text, name.m_id);
    } else if (name.m_parent == kNone) {
      names[record] = design.set_root(text, name.m_id);
    } else {
      names[record] = design.add_child(names[name.m_parent], text, name.m_id);
    }
  }
  auto name_of = [&](REF const& ref) {
    return ref.m_kind == REF_RECORD ? names[ref.m_value] : nullptr;
  };
  for (std::size_t index = 0; index < m_atoms.size(); ++index) {
    ATOM_RECORD const& atom = m_atoms[index];
    CDB_ATOM_NODE* const node =
        design.add_atom(static_cast<CDB_ATOM_BASIC_TYPE>(atom.m_type), name_of(atom.m_name));
    std::size_t const end =
        index + 1 < m_atoms.size() ? m_atoms[index + 1].m_oterm_begin : m_oterms.size();
    for (std::size_t entry = atom.m_oterm_begin; entry < end; ++entry) {
      if (m_oterms[entry].m_kind == REF_NULL_OTERM) {
        design.add_null_oterm(node);
      } else {
        design.add_oterm(node, name_of(m_oterms[entry]));
      }
    }
  }
  loaded->m_atom_count = m_atoms.size();
  loaded->m_instance_count = m_records.size();
  return loaded;
}

std::unique_ptr<LOADED_DESIGN> DESIGN_READER::finish() {
  assign_ids();
  check_declared_ids();
  check_netlist();
  return build();
}

}  // namespace

std::unique_ptr<LOADED_DESIGN> load_design(std::string const& path) {
  std::string const display = path == "-" ? std::string("<stdin>") : path;
  DESIGN_READER reader(display);
  {
    simdjson::padded_string const json = read_input(path, display);
    reader.parse(json);
  }
  return reader.finish();
}

}  // namespace zema_tool
