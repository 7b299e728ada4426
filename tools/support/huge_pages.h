// Transparent huge pages for the command's large blocks.
//
// A design of a million instances makes a few blocks of hundreds of
// megabytes (the parser's index, the record arrays, the decompressed text),
// and the first touch of each 4 KiB page costs a page fault; on a virtual
// machine, far more than the work done with the page. Where the kernel gives
// transparent huge pages only on request (the "madvise" setting), asking for
// them on these blocks turns 512 faults into one.
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
