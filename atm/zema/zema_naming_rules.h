// The rules that converted names keep, in one place for the library and for
// every program that checks, generates or fuzzes names: the legal alphabet of
// the target scheme, the shape of a legal unit name, and which atom types the
// fusion converter names after the design hierarchy.
//
// Everything here is inline and depends on nothing but the language, so a
// host, a tool or a test can use the rules without linking the library.
#ifndef ATM_ZEMA_ZEMA_NAMING_RULES_H
#define ATM_ZEMA_ZEMA_NAMING_RULES_H

#include <string_view>

// Whether `c` may stand anywhere in a converted unit name: 'a'..'z', '0'..'9',
// '[', ']' and '_'.
constexpr bool zema_is_legal_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '[' || c == ']' || c == '_';
}

// The byte that stands for `c` in a converted unit name: an upper-case
// letter lowered, a legal byte as it is, any other byte '_'.
constexpr char zema_legal_char(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c + ('a' - 'A'));
  return zema_is_legal_name_char(c) ? c : '_';
}

// Whether `c` may start a converted unit name: 'a'..'z' only.
constexpr bool zema_is_legal_first_char(char c) { return c >= 'a' && c <= 'z'; }

// Whether `name` is a legal converted unit name: not empty, a legal first
// character, legal characters throughout. Every name the fusion converter
// takes from the hierarchy or makes up has this shape.
constexpr bool zema_is_legal_unit_name(std::string_view name) {
  if (name.empty() || !zema_is_legal_first_char(name[0])) return false;
  for (char const c : name) {
    if (!zema_is_legal_name_char(c)) return false;
  }
  return true;
}

// The atom types these rules single out, by their numbers in the host's
// CDB_ATOM_BASIC_TYPE (the library checks them against it at compile time):
// COMB, named after the hierarchy, and IO_IBUF, PIN and IO_DDR, whose
// made-up names come from their hierarchy node.
constexpr int kZemaAtomTypeComb = 26;
constexpr int kZemaAtomTypeIoIbuf = 3;
constexpr int kZemaAtomTypePin = 35;
constexpr int kZemaAtomTypeIoDdr = 36;
// Types are 0 to kZemaAtomTypeCount - 1.
constexpr int kZemaAtomTypeCount = 50;

// Whether an atom of basic type `type` is named by its own node of the design
// hierarchy (COMB); its oterms then get made-up names.
constexpr bool zema_is_hierarchy_named_atom_type(int type) { return type == kZemaAtomTypeComb; }

// Whether an atom of basic type `type` gets a made-up name built from its own
// hierarchy node's converted name (IO_IBUF, PIN and IO_DDR) rather than a
// number.
constexpr bool zema_is_node_named_atom_type(int type) {
  return type == kZemaAtomTypeIoIbuf || type == kZemaAtomTypePin || type == kZemaAtomTypeIoDdr;
}

// Whether an atom of basic type `type` needs its instance name to be a node of
// the design hierarchy: the types of the two tests above.
constexpr bool zema_atom_type_needs_hierarchy_node(int type) {
  return zema_is_hierarchy_named_atom_type(type) || zema_is_node_named_atom_type(type);
}

#endif  // ATM_ZEMA_ZEMA_NAMING_RULES_H
