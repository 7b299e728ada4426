// Host translator of database enumerations to their debug names.
#ifndef H_DBS_TRANSLATOR_SYS_H
#define H_DBS_TRANSLATOR_SYS_H

#include "h/cdb_net_sys.h"

class DBS_TRANSLATOR {
 public:
  DBS_TRANSLATOR();
  // Out of line: the host's translator may hold resources.
  ~DBS_TRANSLATOR();  // NOLINT(performance-trivially-destructible)
  // The NUL-terminated debug name of `type` ("LUT", "HardIP", ...), owned by
  // the host; a type outside 0 to 49 gives "UNKNOWN".
  char const* get_debug_string_name(CDB_ATOM_BASIC_TYPE type) const;

 private:
  char const* const* m_names;
};

#endif  // H_DBS_TRANSLATOR_SYS_H
