// Transparent huge pages for the command's lookup tables.
//
// The tables and texts that lookups land on at random (the reader's indexes
// by name and id, the name index of translate and check) cost a page walk
// per lookup with 4 KiB pages once they outgrow the TLB; asking for huge
// pages where the kernel gives them only on request (the "madvise" setting)
// spares most of them. The input text and the record arrays, written and
// read in order, keep small pages, as does the host's arena in the command
// for all but small designs (zema_host::mem_small_pages, choose_pages): on a
// virtual machine that hands freed memory back to its host, a fresh huge page
// can cost far more system time than the page walks it spares such memory.
#ifndef TOOLS_SUPPORT_HUGE_PAGES_H
#define TOOLS_SUPPORT_HUGE_PAGES_H

#include <cstddef>

namespace zema_tool {

// Blocks from this size up are worth huge pages.
constexpr std::size_t kHugeBlockBytes = std::size_t{8} << 20;

// Asks for huge pages on the whole pages of [data, data + size) when it is
// a large block; a refusal leaves ordinary pages.
void advise_huge_pages(void* data, std::size_t size);

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_HUGE_PAGES_H
