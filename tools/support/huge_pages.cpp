#include "tools/support/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace zema_tool {

void advise_huge_pages(void* data, std::size_t size) {
  if (data == nullptr || size < kHugeBlockBytes) return;
  // The whole pages inside the block.
  std::size_t constexpr kPage = 4096;
  std::uintptr_t const start = reinterpret_cast<std::uintptr_t>(data);
  std::size_t const skip = (kPage - start % kPage) % kPage;
  if (size <= skip) return;
  std::size_t const length = (size - skip) / kPage * kPage;
  if (length > 0) ::madvise(static_cast<char*>(data) + skip, length, MADV_HUGEPAGE);
}

}  // namespace zema_tool
