// Reads a design file with simdjson's On Demand API into DESIGN_RECORDS: one
// name record per instance name, one atom record per atom, one reference per
// oterm entry.
//
// The hierarchy is read with an explicit stack of object iterators rather
// than by recursion: a hierarchy of ten thousand levels must not exhaust the
// stack, and levels below the limit are refused before they are entered, so
// the JSON nesting the parser sees stays within the depth it was sized for.
#include "tools/input/design_file_reader.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "host/zema_host.h"
#include "tools/input/json_input.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

constexpr int kTypeCount = CDB_ATOM_BASIC_TYPE_COUNT;
// Every object of level L sits at JSON depth 2L + 2 and its children array one
// deeper; names and the netlist nest less than that.
constexpr std::size_t kMaxJsonDepth = 2 * std::size_t(kMaxHierarchyLevels) + 64;

class DESIGN_FILE_READER {
 public:
  DESIGN_FILE_READER(INPUT_TEXT const& text, DESIGN_RECORDS* records, bool detected)
      : m_json(text, kMaxJsonDepth),
        m_records(*records),
        m_size(text.size()),
        m_detected(detected) {}

  void read();

 private:
  // One open object of the hierarchy: its fields, and its children while the
  // "children" array is being read.
  struct FRAME {
    od::object_iterator m_field;
    od::object_iterator m_fields_end;
    od::array_iterator m_child;
    od::array_iterator m_children_end;
    std::uint32_t m_record = 0;
    std::uint32_t m_position = kNoRecord;  // among the parent's children
    std::uint32_t m_children = 0;          // children opened so far
    unsigned m_seen = 0;
    bool m_in_children = false;
  };

  enum SECTION { SECTION_TOP, SECTION_ROOT, SECTION_NAMES, SECTION_NETLIST };
  enum SEEN : unsigned {
    SEEN_NAME = 1,
    SEEN_ID = 2,
    SEEN_CHILDREN = 4,
    SEEN_TYPE = 8,
    SEEN_OTERMS = 16,
    SEEN_ROOT = 32,
    SEEN_NAMES = 64,
    SEEN_NETLIST = 128,
    SEEN_SCOPE = 256
  };

  void check(simdjson::error_code error) { m_json.check(error); }
  std::string place(std::string_view field = std::string_view()) const;
  // The place of a key, which may be empty.
  std::string key_place(std::string_view key) const;
  void mark_seen(unsigned* seen, unsigned bit, std::string_view key);
  [[noreturn]] void unknown_key(std::string_view key, char const* expected);

  // Both name their place as place(field), built only for a message.
  std::uint32_t read_text(od::value& value, std::string_view field);
  std::uint64_t read_id(od::value& value, std::string_view field, bool declared);

  void read_hierarchy(od::value& root);
  void open_instance(od::value& value, std::uint32_t parent, std::uint32_t position);
  void read_instance_field(FRAME& frame, od::field& field);
  void read_names(od::value& value);
  std::uint32_t read_name_object(od::value& value, NAME_KIND kind, std::uint32_t pos,
                                 std::uint32_t parent);
  void read_netlist(od::value& value);
  int read_type(od::value& value);
  REF read_ref(od::value& value, bool oterm);

  // How far each record array has filled, in bytes, published for the
  // populators that keep a lead on them (populate_records).
  enum ARRAY { ARRAY_TEXTS, ARRAY_NAMES, ARRAY_ATOMS, ARRAY_OTERMS, ARRAY_COUNT };
  struct FILL {
    std::atomic<std::size_t> m_bytes[ARRAY_COUNT] = {};
  };
  void populate_records();
  void publish_fill() {
    store_fill(ARRAY_TEXTS, m_records.m_texts);
    store_fill(ARRAY_NAMES, m_records.m_names);
    store_fill(ARRAY_ATOMS, m_records.m_atoms);
    store_fill(ARRAY_OTERMS, m_records.m_oterms);
  }
  template <class VECTOR>
  void store_fill(ARRAY array, VECTOR const& records) {
    m_fill.m_bytes[array].store(records.size() * sizeof(records[0]), std::memory_order_relaxed);
  }

  JSON_INPUT m_json;
  DESIGN_RECORDS& m_records;
  std::size_t m_size;
  bool m_detected;

  SECTION m_section = SECTION_TOP;
  std::vector<FRAME> m_stack;
  std::uint32_t m_item = 0;
  std::uint32_t m_oterm = kNoRecord;
  bool m_in_name = false;
  FILL m_fill;
  std::vector<std::unique_ptr<zema_host::PAGE_POPULATOR>> m_populators;
};

// --- Places and messages ------------------------------------------------------

std::string DESIGN_FILE_READER::place(std::string_view field) const {
  std::string where;
  switch (m_section) {
    case SECTION_TOP:
      if (field.empty()) return "top level";
      break;
    case SECTION_ROOT: {
      std::vector<std::uint32_t> positions;
      for (std::size_t i = 1; i < m_stack.size(); ++i) positions.push_back(m_stack[i].m_position);
      where = hierarchy_place(positions);
      break;
    }
    case SECTION_NAMES:
      where = "names[" + decimal(m_item) + "]";
      break;
    case SECTION_NETLIST:
      where = DESIGN_RECORDS::atom_place(m_item, m_oterm);
      if (m_oterm == kNoRecord && m_in_name) where += ".name";
      break;
  }
  if (!field.empty()) append_key(&where, field);
  return where;
}

std::string DESIGN_FILE_READER::key_place(std::string_view key) const {
  std::string where = m_section == SECTION_TOP ? std::string() : place();
  append_key(&where, key);
  return where;
}

void DESIGN_FILE_READER::mark_seen(unsigned* seen, unsigned bit, std::string_view key) {
  if (*seen & bit) throw TOOL_ERROR(key_place(key), "duplicate key " + quoted_text(key));
  *seen |= bit;
}

void DESIGN_FILE_READER::unknown_key(std::string_view key, char const* expected) {
  throw TOOL_ERROR(key_place(key),
                   "unknown key " + quoted_text(key) + " (expected " + expected + ")");
}

std::uint32_t DESIGN_FILE_READER::read_text(od::value& value, std::string_view field) {
  return m_records.add_text(m_json.name_at(value, [&] { return place(field); }));
}

// A declared id (hierarchy, "names") is 1 to 4294967295; the id of a name
// made in the netlist may also be 0.
std::uint64_t DESIGN_FILE_READER::read_id(od::value& value, std::string_view field, bool declared) {
  od::json_type const type = m_json.type_of(value);
  char const* const expected =
      declared ? "an id from 1 to 4294967295" : "an id from 0 to 4294967295";
  if (type != od::json_type::number) m_json.wrong_type(value, type, place(field), expected);
  std::uint64_t id;
  if (value.get_uint64().get(id) || id > kMaxId) {
    m_json.wrong_type(value, type, place(field), expected);
  }
  if (declared && id == 0) throw TOOL_ERROR(place(field), "a declared id must not be 0");
  return id;
}

// --- Reading ---------------------------------------------------------------------

void DESIGN_FILE_READER::read() {
  // Room for the most records a file of this size can hold (an instance is
  // at least {"name":""}, an atom {"type":0}, an oterm entry 0, and the names
  // are never longer than the file), so the arrays never move while they
  // fill. Capacity that is never touched costs no memory.
  m_records.m_texts.reserve(m_records.m_texts.size() + m_size);
  m_records.m_names.reserve(m_size / 11 + 1);
  m_records.m_atoms.reserve(m_size / 10 + 1);
  m_records.m_oterms.reserve(m_size / 2 + 1);
  populate_records();

  od::object top = m_json.top_object();
  unsigned seen = 0;
  m_json.for_each_field(top, [&](std::string_view const key, od::value& field_value) {
    if (key == "root") {
      mark_seen(&seen, SEEN_ROOT, key);
      read_hierarchy(field_value);
    } else if (key == "names") {
      mark_seen(&seen, SEEN_NAMES, key);
      read_names(field_value);
    } else if (key == "netlist") {
      mark_seen(&seen, SEEN_NETLIST, key);
      read_netlist(field_value);
    } else if (seen == 0 && m_detected) {
      // Nothing yet says that this is a design file.
      throw TOOL_ERROR(key_place(key), "unknown key " + quoted_text(key) +
                                           ": neither a design file (\"root\", \"names\", "
                                           "\"netlist\") nor a Yosys netlist (\"modules\")");
    } else {
      unknown_key(key, "\"root\", \"names\" or \"netlist\"");
    }
    m_section = SECTION_TOP;
  });
  if (!(seen & SEEN_ROOT)) throw TOOL_ERROR("top level", "missing \"root\"");
  m_json.expect_end();
  m_populators.clear();
}

// The arrays are reserved for the most a file of this size can hold, far
// more than most files fill, so they cannot be populated whole in advance:
// each has a populator that keeps a huge page or two ahead of its fill, and
// leaves at most that much unused. A file too small for the arrays to dwarf
// that has none.
void DESIGN_FILE_READER::populate_records() {
  std::size_t const kLead = std::size_t(2) << 20;
  if (m_size < 16 * kLead) return;
  auto const start = [&](ARRAY array, auto& records) {
    store_fill(array, records);
    char* const data = reinterpret_cast<char*>(records.data());
    std::vector<std::pair<char*, char*>> ranges{
        {data, data + records.capacity() * sizeof(records[0])}};
    zema_host::PAGE_POPULATOR::LEAD const lead{&m_fill.m_bytes[array], 0, kLead, true};
    m_populators.emplace_back(new (std::nothrow)
                                  zema_host::PAGE_POPULATOR(std::move(ranges), lead));
  };
  start(ARRAY_TEXTS, m_records.m_texts);
  start(ARRAY_NAMES, m_records.m_names);
  start(ARRAY_ATOMS, m_records.m_atoms);
  start(ARRAY_OTERMS, m_records.m_oterms);
}

void DESIGN_FILE_READER::read_hierarchy(od::value& root) {
  m_section = SECTION_ROOT;
  m_stack.clear();
  open_instance(root, kNoRecord, kNoRecord);
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
              "the hierarchy is deeper than " + decimal(kMaxHierarchyLevels) + " levels");
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

void DESIGN_FILE_READER::open_instance(od::value& value, std::uint32_t parent,
                                       std::uint32_t position) {
  m_stack.emplace_back();
  FRAME& frame = m_stack.back();
  frame.m_position = position;
  od::object object = m_json.object_at(value, [&] { return place(); });
  check(object.begin().get(frame.m_field));
  check(object.end().get(frame.m_fields_end));
  frame.m_record = m_records.add_name(NAME_HIERARCHY, parent, position, 0, 0, false);
  publish_fill();
}

void DESIGN_FILE_READER::read_instance_field(FRAME& frame, od::field& field) {
  std::string_view const key = m_json.key_of(field);
  if (key == "name") {
    mark_seen(&frame.m_seen, SEEN_NAME, key);
    std::uint32_t const text = read_text(field.value(), key);
    NAME_RECORD& record = m_records.m_names[frame.m_record];
    record.m_text = text;
    if (record.m_parent == kNoRecord && m_records.m_texts[text] != '\0') {
      throw TOOL_ERROR(place(key), "the root's name must be empty");
    }
  } else if (key == "id") {
    mark_seen(&frame.m_seen, SEEN_ID, key);
    std::uint64_t const id = read_id(field.value(), key, true);
    m_records.note_id(id);
    NAME_RECORD& record = m_records.m_names[frame.m_record];
    record.m_id = static_cast<std::uint32_t>(id);
    record.m_has_id = true;
  } else if (key == "children") {
    mark_seen(&frame.m_seen, SEEN_CHILDREN, key);
    od::array children = m_json.array_at(field.value(), [&] { return place(key); });
    check(children.begin().get(frame.m_child));
    check(children.end().get(frame.m_children_end));
    frame.m_in_children = true;
  } else {
    unknown_key(key, "\"name\", \"id\" or \"children\"");
  }
}

void DESIGN_FILE_READER::read_names(od::value& value) {
  od::array names = m_json.array_at(value, [] { return std::string("names"); });
  m_section = SECTION_NAMES;
  m_item = 0;
  for (auto result : names) {
    check(result.error());
    od::value item = result.value_unsafe();
    read_name_object(item, NAME_LISTED, m_item, kNoRecord);
    ++m_item;
  }
}

std::uint32_t DESIGN_FILE_READER::read_name_object(od::value& value, NAME_KIND kind,
                                                   std::uint32_t pos, std::uint32_t parent) {
  od::object object = m_json.object_at(value, [&] { return place(); });
  std::uint32_t const index = m_records.add_name(kind, parent, pos, 0, 0, false);
  publish_fill();
  unsigned seen = 0;
  m_json.for_each_field(object, [&](std::string_view const key, od::value& field_value) {
    if (key == "name") {
      mark_seen(&seen, SEEN_NAME, key);
      std::uint32_t const text = read_text(field_value, key);
      m_records.m_names[index].m_text = text;
    } else if (key == "id") {
      mark_seen(&seen, SEEN_ID, key);
      std::uint64_t const id = read_id(field_value, key, kind == NAME_LISTED);
      m_records.note_id(id);
      m_records.m_names[index].m_id = static_cast<std::uint32_t>(id);
      m_records.m_names[index].m_has_id = true;
    } else if (key == "scope") {
      mark_seen(&seen, SEEN_SCOPE, key);
      std::uint64_t const id = read_id(field_value, key, true);
      m_records.note_id(id);
      m_records.m_scoped_by_id.push_back({index, static_cast<std::uint32_t>(id)});
    } else {
      unknown_key(key, "\"name\", \"id\" or \"scope\"");
    }
  });
  if (!(seen & SEEN_NAME)) throw TOOL_ERROR(place(), "missing \"name\"");
  return index;
}

void DESIGN_FILE_READER::read_netlist(od::value& value) {
  od::array atoms = m_json.array_at(value, [] { return std::string("netlist"); });
  m_section = SECTION_NETLIST;
  m_item = 0;
  for (auto result : atoms) {
    check(result.error());
    od::value item = result.value_unsafe();
    m_oterm = kNoRecord;
    m_in_name = false;
    od::object object = m_json.object_at(item, [&] { return place(); });
    ATOM_RECORD atom{{0, REF_NONE}, static_cast<std::uint32_t>(m_records.m_oterms.size()), 0};
    unsigned seen = 0;
    m_json.for_each_field(object, [&](std::string_view const key, od::value& field_value) {
      if (key == "type") {
        mark_seen(&seen, SEEN_TYPE, key);
        atom.m_type = read_type(field_value);
      } else if (key == "name") {
        mark_seen(&seen, SEEN_NAME, key);
        m_in_name = true;
        atom.m_name = read_ref(field_value, false);
        m_in_name = false;
      } else if (key == "oterms") {
        mark_seen(&seen, SEEN_OTERMS, key);
        od::array oterms = m_json.array_at(field_value, [&] { return place(key); });
        m_oterm = 0;
        for (auto oterm_result : oterms) {
          check(oterm_result.error());
          od::value oterm = oterm_result.value_unsafe();
          REF const ref = read_ref(oterm, true);
          m_records.m_oterms.push_back(ref);
          ++m_oterm;
        }
        m_oterm = kNoRecord;
      } else {
        unknown_key(key, "\"type\", \"name\" or \"oterms\"");
      }
    });
    if (!(seen & SEEN_TYPE)) throw TOOL_ERROR(place(), "missing \"type\"");
    m_records.m_atoms.push_back(atom);
    publish_fill();
    ++m_item;
  }
  m_oterm = kNoRecord;
}

int DESIGN_FILE_READER::read_type(od::value& value) {
  od::json_type const type = m_json.type_of(value);
  if (type == od::json_type::string) {
    std::string_view const text = m_json.string_of(value);
    // No type name is longer than 15 bytes or holds a NUL.
    char name[32] = {};
    bool const fits =
        text.size() < sizeof name && std::memchr(text.data(), '\0', text.size()) == nullptr;
    if (fits) std::memcpy(name, text.data(), text.size());
    int const found = fits ? zema_host::atom_type_from_name(name) : -1;
    if (found < 0) throw TOOL_ERROR(place("type"), "unknown type name " + quoted_text(text));
    return found;
  }
  std::int64_t number;
  if (type == od::json_type::number && !value.get_int64().get(number) && number >= 0 &&
      number < kTypeCount) {
    return static_cast<int>(number);
  }
  // The messages name the range, built only now.
  std::string const range = "0 to " + decimal(kTypeCount - 1);
  std::string const expected = "a type from " + range + " or a type name";
  if (type != od::json_type::number) {
    m_json.wrong_type(value, type, place("type"), expected.c_str());
  }
  std::string const raw = m_json.describe(value, type);
  // A fraction or an exponent is no type at all; an integer is out of range.
  if (raw.find_first_of(".eE") != std::string::npos) {
    m_json.wrong_type(value, type, place("type"), expected.c_str());
  }
  throw TOOL_ERROR(place("type"), "type " + raw + " is outside " + range);
}

REF DESIGN_FILE_READER::read_ref(od::value& value, bool oterm) {
  od::json_type const type = m_json.type_of(value);
  switch (type) {
    case od::json_type::null:
      m_json.describe(value, type);  // refuses a misspelt null
      return {0, oterm ? REF_NULL_OTERM : REF_NONE};
    case od::json_type::number:
      return m_records.id_ref(read_id(value, std::string_view(), false));
    case od::json_type::object:
      return {read_name_object(value, NAME_NETLIST, m_item, oterm ? m_oterm : kNoRecord),
              REF_RECORD};
    default:
      m_json.wrong_type(value, type, place(), "an id, a name object or null");
  }
}

}  // namespace

void read_design_file(INPUT_TEXT const& text, DESIGN_RECORDS* records, bool detected) {
  DESIGN_FILE_READER(text, records, detected).read();
}

}  // namespace zema_tool
