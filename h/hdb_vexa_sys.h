// Host naming functions of the target (VEXA) naming scheme.
//
// Each conversion replaces the content of *out. Converted text uses only
// lower-case letters, digits, '[', ']' and '_' inside a segment, "/" between
// hierarchy levels, and starts with one backslash when `no_backslash` is
// false. The encoding is reversible: hdb_revert_vexa_full_name gives back
// exactly the path that was converted. `trace` prints the conversion as a
// debug line of the module "HDB".
#ifndef H_HDB_VEXA_SYS_H
#define H_HDB_VEXA_SYS_H

#include "h/cdb_net_sys.h"

// One unit name as a single segment: "/" inside it is encoded, not a separator.
void hdb_convert_unit_name_to_vexa(GEN_STRING* out, char const* unit_name, bool trace);

// A short hierarchical path (unambiguous format) as a full name of a cell,
// a net or a pin. Unescaped "/" in the path separate the segments.
void hdb_convert_cell_name_to_vexa(GEN_STRING* out, char const* path, CDB_ATOM_BASIC_TYPE type,
                                   bool no_backslash, bool trace);
void hdb_convert_net_name_to_vexa(GEN_STRING* out, char const* path, bool no_backslash, bool trace);
void hdb_convert_pin_name_to_vexa(GEN_STRING* out, char const* path, bool no_backslash, bool trace);

// Turns a converted full name (with or without its one leading backslash)
// back into the path it came from. Gives false, leaving *out unchanged, for a
// text that no conversion produces. With `strict` true a leading backslash is
// refused.
bool hdb_revert_vexa_full_name(GEN_STRING* out, char const* converted, bool strict);

#endif  // H_HDB_VEXA_SYS_H
