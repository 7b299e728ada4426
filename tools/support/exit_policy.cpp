#include "tools/support/exit_policy.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace zema_tool {
namespace {

std::atomic<bool> g_free_always{false};

}  // namespace

void free_always() { g_free_always = true; }

bool free_at_exit() {
  if (g_free_always) return true;
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  static bool const free_all = [] {
    char const* const value = std::getenv("ZEMA_FREE_AT_EXIT");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
  }();
  return free_all;
}

}  // namespace zema_tool
