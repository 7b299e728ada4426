// Host message services: internal-error reports and module debug output.
//
// Neither service aborts or throws; a report is logged and the caller goes on.
#ifndef H_MSG_SYS_H
#define H_MSG_SYS_H

#include <cstdarg>

class MSG_INTERNAL_ERROR {
 public:
  // Reports that `condition` did not hold in `module` at `file`:`line`.
  static void report(char const* condition, char const* module, char const* file, int line);
};

// Prints one debug line for `module` from a printf-style format and its
// argument list, when the host's debug output is on. Returns whether anything
// was printed. (On the 32-bit target va_list is a plain char pointer.)
bool msg_local_vdebug(char* module, char const* format, va_list args);

#endif  // H_MSG_SYS_H
