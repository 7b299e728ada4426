// The reference host's memory manager: zero-filled, tracked blocks for every
// module, module open/close with a report of what a closing module still
// holds, and fault injection for tests.
//
// Each block carries a small header in front of it that names its tracking
// record and its size, so delete_wrapper can update the record without a
// lookup. The header is two machine words, which keeps the block at the
// alignment calloc gives (16 bytes on 64-bit, 8 on 32-bit).
//
// Bookkeeping lives in heap objects that are never freed: the library's
// MEM_INITIALIZER is destroyed while the process unloads, after ordinary
// static objects of this file may already be gone.
#include "h/mem_alloc_sys.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>

#include "h/msg_sys.h"
#include "host/zema_host.h"

namespace {

struct BLOCK_HEADER {
  MEM_TRACKER_THUNK* m_thunk;
  std::size_t m_size;
};
static_assert(sizeof(BLOCK_HEADER) == 2 * sizeof(void*),
              "the header must keep calloc's alignment for the block behind it");

struct MEM_STATE {
  std::vector<MEM_TRACKER_THUNK*> m_thunks;  // every record seen, in order of first use
  std::vector<std::string> m_close_reports;
  long m_fail_countdown = -1;  // allocations left before the injected failure; < 0: off
};

MEM_STATE& state() {
  static MEM_STATE* s_state = new MEM_STATE;
  return *s_state;
}

BLOCK_HEADER* header_of(void* block) { return static_cast<BLOCK_HEADER*>(block) - 1; }

// Small blocks come from size-class pools carved out of large arenas, so that
// the millions of small nodes of a big design are allocated without a malloc
// call each, sit next to each other in creation order, and are backed by huge
// pages. Arena memory is fresh from mmap and so already zero; a block reused
// from a free list is cleared on the way out. Sanitizer builds keep plain
// calloc, so that every block stays visible to the sanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define ZEMA_HOST_POOLS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEMA_HOST_POOLS 0
#endif
#endif
#ifndef ZEMA_HOST_POOLS
#define ZEMA_HOST_POOLS 1
#endif

#if ZEMA_HOST_POOLS
std::size_t const kGranule = 16;
std::size_t const kLargestPooled = 512;  // header included
std::size_t const kArenaBytes = std::size_t(32) << 20;

class POOLS {
 public:
  static bool pooled(std::size_t total) { return total <= kLargestPooled; }

  void* allocate(std::size_t total) {
    std::size_t const cls = class_of(total);
    if (void* block = m_free[cls]) {
      m_free[cls] = *static_cast<void**>(block);
      std::memset(block, 0, (cls + 1) * kGranule);
      return block;
    }
    std::size_t const bytes = (cls + 1) * kGranule;
    if (m_left < bytes) refill();
    void* const block = m_bump;
    m_bump += bytes;
    m_left -= bytes;
    return block;
  }

  void release(void* block, std::size_t total) {
    std::size_t const cls = class_of(total);
    *static_cast<void**>(block) = m_free[cls];
    m_free[cls] = block;
  }

 private:
  static std::size_t class_of(std::size_t total) { return (total - 1) / kGranule; }

  // The rest of the old arena is dropped; at most one block's worth is lost.
  void refill() {
    void* const arena =
        mmap(nullptr, kArenaBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (arena == MAP_FAILED) throw std::bad_alloc();
    madvise(arena, kArenaBytes, MADV_HUGEPAGE);
    m_bump = static_cast<char*>(arena);
    m_left = kArenaBytes;
  }

  void* m_free[kLargestPooled / kGranule] = {};
  char* m_bump = nullptr;
  std::size_t m_left = 0;
};

POOLS& pools() {
  static POOLS* s_pools = new POOLS;
  return *s_pools;
}
#endif

void* raw_allocate(std::size_t total) {
#if ZEMA_HOST_POOLS
  if (POOLS::pooled(total)) return pools().allocate(total);
#endif
  void* const raw = std::calloc(1, total);
  if (raw == nullptr) throw std::bad_alloc();
  return raw;
}

void raw_release(void* raw, std::size_t total) {
#if ZEMA_HOST_POOLS
  if (POOLS::pooled(total)) return pools().release(raw, total);
#endif
  (void)total;
  std::free(raw);
}

}  // namespace

void* MEM_MANAGER::new_wrapper(std::size_t size, MEM_TRACKER_THUNK* thunk, char const* file) {
  MEM_STATE& st = state();
  if (st.m_fail_countdown >= 0) {
    // One-shot: the chosen allocation fails and later ones succeed again.
    if (st.m_fail_countdown-- == 0) throw std::bad_alloc();
  }
  if (size > SIZE_MAX - sizeof(BLOCK_HEADER)) throw std::bad_alloc();
  void* raw = raw_allocate(sizeof(BLOCK_HEADER) + size);
  BLOCK_HEADER* header = static_cast<BLOCK_HEADER*>(raw);
  header->m_thunk = thunk;
  header->m_size = size;
  if (thunk != nullptr) {
    if (!thunk->m_registered) {
      st.m_thunks.push_back(thunk);
      thunk->m_registered = true;
    }
    thunk->m_live_bytes += size;
    thunk->m_live_blocks += 1;
    thunk->m_total_blocks += 1;
  } else {
    MSG_INTERNAL_ERROR::report("thunk != nullptr", "MEM", file != nullptr ? file : "?", 0);
  }
  return header + 1;
}

void MEM_MANAGER::delete_wrapper(void* block, char const* module) {
  if (block == nullptr) return;
  BLOCK_HEADER* header = header_of(block);
  MEM_TRACKER_THUNK* thunk = header->m_thunk;
  if (thunk != nullptr) {
    // Modules pass their own name literal, so equal pointers settle it without strcmp.
    if (module != nullptr && thunk->m_module != nullptr && module != thunk->m_module &&
        std::strcmp(module, thunk->m_module) != 0) {
      MSG_INTERNAL_ERROR::report("block freed by the module that allocated it", module, __FILE__,
                                 __LINE__);
    }
    if (thunk->m_live_blocks == 0 || thunk->m_live_bytes < header->m_size) {
      MSG_INTERNAL_ERROR::report("tracking record holds the freed block", "MEM", __FILE__,
                                 __LINE__);
    } else {
      thunk->m_live_bytes -= header->m_size;
      thunk->m_live_blocks -= 1;
    }
  }
  raw_release(header, sizeof(BLOCK_HEADER) + header->m_size);
}

MEM_INITIALIZER::MEM_INITIALIZER(char const* module) : m_module(module) {
  // Touch the bookkeeping so it exists before any block of the module does.
  state();
}

MEM_INITIALIZER::~MEM_INITIALIZER() {
  if (m_module == nullptr) return;
  zema_host::MEM_STATS stats = zema_host::mem_module_stats(m_module);
  if (stats.live_blocks == 0) return;
  char line[256];
  std::snprintf(line, sizeof line, "MEM: module %s still holds %llu bytes in %llu blocks", m_module,
                stats.live_bytes, stats.live_blocks);
  std::fprintf(stderr, "%s\n", line);
  state().m_close_reports.emplace_back(line);
}

namespace zema_host {

MEM_STATS mem_module_stats(char const* module) {
  MEM_STATS stats = {0, 0, 0};
  if (module == nullptr) return stats;
  for (MEM_TRACKER_THUNK const* thunk : state().m_thunks) {
    if (thunk->m_module == nullptr || std::strcmp(thunk->m_module, module) != 0) continue;
    stats.live_bytes += thunk->m_live_bytes;
    stats.live_blocks += thunk->m_live_blocks;
    stats.total_blocks += thunk->m_total_blocks;
  }
  return stats;
}

void mem_fail_after(long n) { state().m_fail_countdown = n < 0 ? -1 : n; }

std::vector<std::string> const& mem_close_reports() { return state().m_close_reports; }

}  // namespace zema_host
