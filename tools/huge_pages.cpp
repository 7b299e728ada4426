#include "tools/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace zema_tool {

void advise_huge_pages(void* data, std::size_t size) {
  if (data == nullptr || size < kHugeBlockBytes) return;
  std::uintptr_t constexpr kPage = 4096;
  std::uintptr_t const begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  std::uintptr_t const end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kPage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace zema_tool
