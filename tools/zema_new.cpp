// The zema command's global allocation functions: every C++ allocation comes
// from malloc as usual, and the large blocks (the JSON parser's index, the
// record arrays, the host's arenas) ask for transparent huge pages
// (tools/support/huge_pages.h). Only the command has them; the library, its tests
// and other hosts keep their own.
#include <cstdlib>
#include <new>

#include "tools/support/huge_pages.h"

void* operator new(std::size_t size) {
  void* const block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  zema_tool::advise_huge_pages(block, size);
  return block;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, std::nothrow_t const&) noexcept {
  void* const block = std::malloc(size != 0 ? size : 1);
  zema_tool::advise_huge_pages(block, size);
  return block;
}
void* operator new[](std::size_t size, std::nothrow_t const& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::nothrow_t const&) noexcept { std::free(block); }
void operator delete[](void* block, std::nothrow_t const&) noexcept { std::free(block); }
