#include "atm/zema/zema_version.h"

// The numbers are those of the header this file was compiled with, so they
// are the library's own, whatever header a program was compiled against.

char const* zema_version() { return ZEMA_VERSION_STRING; }

void zema_version_numbers(int* major, int* minor, int* patch) {
  if (major) *major = ZEMA_VERSION_MAJOR;
  if (minor) *minor = ZEMA_VERSION_MINOR;
  if (patch) *patch = ZEMA_VERSION_PATCH;
}
