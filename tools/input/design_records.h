// DESIGN_RECORDS: a design as flat records, between reading a file and
// building the host's database, with the checks that make it one the
// converters accept.
//
// A reader appends one NAME_RECORD per instance name (hierarchy instances in
// document order, so a parent always comes before its children), one
// ATOM_RECORD per atom and one REF per oterm entry, all as plain integers into
// arrays. resolve() then assigns the missing ids, checks that declared ids
// are unique, turns id references into records and checks the netlist rules
// (docs/cli.md). Every problem is a TOOL_ERROR that names its place in the
// design-file format ("root.children[0]", "netlist[3].oterms[1]"). Nothing
// here knows JSON, so the rules can be tested on records made by hand.
#ifndef TOOLS_INPUT_DESIGN_RECORDS_H
#define TOOLS_INPUT_DESIGN_RECORDS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/support/hash_table.h"

namespace zema_tool {

// The deepest level an instance may have; the root is level 0, its children
// level 1.
constexpr unsigned kMaxHierarchyLevels = 10000;
// Ids are unsigned 32-bit values of the host's name manager.
constexpr std::uint64_t kMaxId = 0xffffffffu;
// No record: the parent of the root, the position of an atom's own name.
constexpr std::uint32_t kNoRecord = 0xffffffffu;

enum NAME_KIND : std::uint8_t {
  NAME_HIERARCHY,  // an instance of the hierarchy, the root included
  NAME_LISTED,     // an entry of "names", outside the hierarchy
  NAME_NETLIST     // a name object written inside the netlist, outside the hierarchy
};

struct NAME_RECORD {
  // Hierarchy: the parent's record, kNoRecord for the root. Netlist: the
  // oterm position the name stands at, kNoRecord for the atom's own name.
  std::uint32_t m_parent;
  // Hierarchy: the position among its siblings. "names" and netlist: the
  // index in that array.
  std::uint32_t m_pos;
  std::uint32_t m_text;  // offset of the NUL-terminated unit name in m_texts
  std::uint32_t m_id;
  NAME_KIND m_kind;
  bool m_has_id;
};

enum REF_KIND : std::uint8_t {
  REF_NONE,        // no instance name
  REF_NULL_OTERM,  // a null oterm entry
  REF_ID,          // m_value is an id, until resolve() makes it a record
  REF_RECORD       // m_value is a name record
};

struct REF {
  std::uint32_t m_value;
  REF_KIND m_kind;
};

// A name outside the hierarchy that a netlist reader found inside an
// instance of it: the name of a cell that the hierarchy does not name, or of
// the net that names a cell's output. Its original name is the scope's path
// followed by its own.
struct SCOPED_NAME {
  std::uint32_t m_name;   // the name's record
  std::uint32_t m_scope;  // the record of the hierarchy instance it lies in
};

struct ATOM_RECORD {
  REF m_name;
  std::uint32_t m_oterm_begin;  // first entry in m_oterms; the next atom's is the end
  int m_type;
};

// "root", then ".children[i]" per level from the root down; a path of more
// than eight levels keeps its first four and last three.
std::string hierarchy_place(std::vector<std::uint32_t> const& positions);

class DESIGN_RECORDS {
 public:
  // The most names the records hold (a record number leaves the top bit of a
  // declared id's entry free) and the most bytes of unit names, NULs
  // included (their offsets are 32-bit).
  static constexpr std::uint64_t kMaxNames = 0x7fffffffu;
  static constexpr std::uint64_t kMaxTextBytes = 0xffffffffu;

  DESIGN_RECORDS() { m_texts.push_back('\0'); }  // offset 0: the empty name

  // Appends a unit name (which holds no NUL) and gives its offset.
  std::uint32_t add_text(std::string_view text) {
    std::uint32_t const offset = static_cast<std::uint32_t>(m_texts.size());
    m_texts.insert(m_texts.end(), text.begin(), text.end());
    m_texts.push_back('\0');
    return offset;
  }

  // Appends a name record and gives its index. An id given here counts
  // towards the largest id written.
  std::uint32_t add_name(NAME_KIND kind, std::uint32_t parent, std::uint32_t pos,
                         std::uint32_t text, std::uint64_t id, bool has_id) {
    if (has_id) note_id(id);
    m_names.push_back({parent, pos, text, static_cast<std::uint32_t>(id), kind, has_id});
    return static_cast<std::uint32_t>(m_names.size() - 1);
  }

  // A reference to the name with `id`, resolved by resolve().
  REF id_ref(std::uint64_t id) {
    note_id(id);
    return {static_cast<std::uint32_t>(id), REF_ID};
  }

  void note_id(std::uint64_t id) {
    if (id > m_largest_id) m_largest_id = id;
  }

  // Where the oterm entries of `atom` end in m_oterms.
  std::uint32_t oterm_end(std::uint32_t atom) const {
    return atom + 1 < m_atoms.size() ? m_atoms[atom + 1].m_oterm_begin
                                     : static_cast<std::uint32_t>(m_oterms.size());
  }

  char const* text_of(std::uint32_t record) const { return &m_texts[m_names[record].m_text]; }

  // Assigns ids, checks them, resolves references and checks the netlist
  // rules; throws TOOL_ERROR for the first problem found. Afterwards every
  // REF is REF_NONE, REF_NULL_OTERM or REF_RECORD.
  void resolve();

  // The bytes of the full path of every name together: a name of the
  // hierarchy takes its ancestors' unit names, its own and a "/" for each; a
  // name outside it its own, after its scope's path when it has one.
  // UINT64_MAX stands for that many or more.
  std::uint64_t full_name_bytes() const;

  // Places in the design-file format, for messages.
  std::string place_of(std::uint32_t record) const;
  static std::string atom_place(std::uint32_t atom, std::uint32_t oterm);

  std::vector<NAME_RECORD> m_names;
  std::vector<char> m_texts;
  std::vector<ATOM_RECORD> m_atoms;
  std::vector<REF> m_oterms;
  std::vector<SCOPED_NAME> m_scoped;  // in no particular order
  // Scopes given by id (a design file's "scope"): m_scope holds the id until
  // resolve() moves the entry to m_scoped with the instance's record.
  std::vector<SCOPED_NAME> m_scoped_by_id;
  // What a reader has to say about an input it accepted, one line each,
  // for the command to print ("zema: warning: ...").
  std::vector<std::string> m_warnings;
  std::uint64_t m_largest_id = 0;

 private:
  void assign_ids();
  void check_declared_ids();
  bool is_inside(std::uint32_t record) const;
  // Makes an id reference a record reference, or throws when no name
  // declares the id; gives whether it is declared inside the hierarchy
  // (false for a reference that was not an id: is_inside() tells then).
  bool resolve_ref(REF* ref, std::uint32_t atom, std::uint32_t oterm);
  void check_netlist();
  void resolve_scopes();

  // Declared ids to their entries: the declaring record, with kInHierarchy
  // set when it is an instance of the hierarchy, so that the checks of a
  // netlist reference need not fetch the record itself: a lookup is about
  // one miss.
  static constexpr std::uint32_t kInHierarchy = 0x80000000u;
  ID_TABLE<std::uint32_t, kNoRecord> m_declared;
  // The entry of `id`, kNoRecord when no name declares it.
  std::uint32_t declared_entry(std::uint32_t id) const;
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_DESIGN_RECORDS_H
