// The reference host's memory manager: zero-filled, tracked blocks for every
// module, module open/close with a report of what a closing module still
// holds, and fault injection for tests.
//
// A big design makes millions of small blocks of a few fixed sizes (tree
// nodes, hash nodes, name-table nodes), and on this kind of machine the first
// touch of a fresh 4 KiB page costs more than the work done in it. So every
// block comes from one large address range backed by huge pages (unless a
// program that touches its memory once asks for small ones, mem_small_pages),
// and no block carries a header. The range is reserved in segments, the
// first small and each next one twice the size of the last, so that the
// address space a process holds stays in proportion to what it uses: a host
// under an address-space limit keeps room for its own memory. The range is
// cut into 64 KiB slabs. A small block comes from a pool, one per tracking
// record and size, that carves slabs of its own; a large block takes a span
// of whole slabs. A table of slabs leads from a block's address to its pool or span,
// which knows the record and the size to charge when the block is freed.
// Fresh memory of the range is already zero; reused memory is cleared as it
// is handed out: a span's bytes when it is taken, a pool's slab a few pages
// ahead of its blocks, since a pool may take a slab for a handful of blocks
// and clearing the whole slab then cost more than the blocks' own work.
// Freed slabs (a pool's, once its last block goes, or a span's, such as the
// old bucket array of a table that grew) are kept as runs of neighbours and
// serve later spans and pools best fit, so that the memory a run touched is
// reused before fresh memory is touched and a process that builds and drops
// big tables again and again stays the size of one round.
//
// When no segment can be reserved, and in sanitizer builds or
// runs with ZEMA_HOST_POOLS=0 in the environment (for valgrind), blocks come
// from calloc with a small header naming their record and size, so that each
// block stays visible to the checker.
//
// Bookkeeping lives in heap objects that are never freed: the library's
// MEM_INITIALIZER is destroyed while the process unloads, after ordinary
// static objects of this file may already be gone.
#include "h/mem_alloc_sys.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/container_hash/hash.hpp>
#include <boost/unordered/unordered_flat_map.hpp>

#include "h/msg_sys.h"
#include "host/zema_host.h"

namespace {

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

// The header in front of a block from calloc. Two machine words keep the
// block at the alignment calloc gives.
struct BLOCK_HEADER {
  MEM_TRACKER_THUNK* m_thunk;
  std::size_t m_size;
};
static_assert(sizeof(BLOCK_HEADER) == 2 * sizeof(void*),
              "the header must keep calloc's alignment for the block behind it");

std::size_t const kHugePageBytes = std::size_t(2) << 20;
// How far the arena's prefault runs ahead of the fresh memory handed out:
// enough to stay ahead of a burst of allocation, little to leave unused.
std::size_t const kPrefaultLead = std::size_t(16) << 20;
#ifdef MADV_POPULATE_WRITE
int const kPopulateWrite = MADV_POPULATE_WRITE;
#else
int const kPopulateWrite = 23;  // Linux 5.14 and later
#endif
std::size_t const kSlabShift = 16;
std::size_t const kSlabBytes = std::size_t(1) << kSlabShift;
// Larger blocks take spans of whole slabs.
std::size_t const kLargestPooled = kSlabBytes / 2;

// What a slab serves: the blocks of one pool, or (as the first slab of it)
// one span.
struct POOL {
  MEM_TRACKER_THUNK* m_thunk = nullptr;
  std::size_t m_size = 0;    // bytes asked for, charged to the record
  std::size_t m_stride = 0;  // m_size rounded up to a multiple of 8
  void* m_free = nullptr;
  char* m_bump = nullptr;
  char* m_end = nullptr;
  char* m_zeroed = nullptr;    // the slab is zero from m_bump up to here
  std::size_t m_live = 0;      // blocks handed out and not freed
  std::vector<char*> m_slabs;  // in the order they were taken
};

struct SPAN {
  MEM_TRACKER_THUNK* m_thunk;
  std::size_t m_size;
  std::size_t m_slabs;
};

// The slab table's entry for one slab: null and null while it serves nothing.
struct SLAB {
  POOL* m_pool;
  SPAN* m_span;
};

// One reserved part of the range, with the slab table of its slabs.
struct SEGMENT {
  char* m_base;
  char* m_limit;
  SLAB* m_slabs;  // by slab, from m_base
};

}  // namespace

namespace zema_host {

namespace {

// How long a leading populator waits for its consumer to move before it
// ends: the consumer has stopped taking fresh memory, as after a
// conversion, or has not started, as when a design is built and converted
// much later.
int const kIdlePolls = 200;
auto const kPollInterval = std::chrono::milliseconds(1);

// Waits while `position` is the lead's window or more ahead of its consumer.
// False when the populator is to end: stopped, or its consumer idle.
bool wait_for_consumer(PAGE_POPULATOR::LEAD const& lead, std::size_t position,
                       std::atomic<bool> const& stop) {
  if (lead.consumed == nullptr) return true;
  std::size_t seen = lead.consumed->load(std::memory_order_relaxed);
  int idle = 0;
  while (position >= seen - lead.base + lead.window) {
    if (stop.load(std::memory_order_relaxed)) return false;
    if (!lead.until_stopped && ++idle > kIdlePolls) return false;
    std::this_thread::sleep_for(kPollInterval);
    std::size_t const now = lead.consumed->load(std::memory_order_relaxed);
    if (now != seen) {
      seen = now;
      idle = 0;
    }
  }
  return true;
}

}  // namespace

PAGE_POPULATOR::PAGE_POPULATOR(std::vector<std::pair<char*, char*>> ranges, READY ready) noexcept
    : PAGE_POPULATOR(std::move(ranges), LEAD{nullptr, 0, 0}, ready) {}

PAGE_POPULATOR::PAGE_POPULATOR(std::vector<std::pair<char*, char*>> ranges, LEAD lead,
                               READY ready) noexcept {
  std::size_t const page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  bool const touch = ready == READY::TOUCHED;
  try {
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_thread = std::thread([ranges = std::move(ranges), page, lead, touch, stop = m_stop] {
      std::size_t position = 0;  // bytes of the ranges passed, in order
      for (auto const& range : ranges) {
        std::size_t left = static_cast<std::size_t>(range.second - range.first);
        // madvise takes whole pages: from the first that starts in the range.
        std::size_t const into = reinterpret_cast<std::uintptr_t>(range.first) % page;
        std::size_t const skip = std::min(left, into == 0 ? 0 : page - into);
        char* at = range.first + skip;
        left -= skip;
        position += skip;
        while (left > 0) {
          if (stop->load(std::memory_order_relaxed)) return;
          if (!wait_for_consumer(lead, position, *stop)) return;
          std::size_t const length = std::min(kHugePageBytes, left);
          if (madvise(at, length, kPopulateWrite) != 0) return;
          // An atomic read: other threads may be filling these pages.
          for (std::size_t offset = 0; touch && offset < length; offset += page) {
            (void)__atomic_load_n(at + offset, __ATOMIC_RELAXED);
          }
          at += length;
          left -= length;
          position += length;
        }
      }
    });
    m_process = getpid();
  } catch (std::exception const&) {
    // No thread: the memory is touched as usual when it is filled.
  }
}

PAGE_POPULATOR::~PAGE_POPULATOR() {
  if (!m_thread.joinable()) return;
  if (getpid() != m_process) {
    m_thread.detach();
    return;
  }
  m_stop->store(true, std::memory_order_relaxed);
  m_thread.join();
}

void PAGE_POPULATOR::detach() {
  if (m_thread.joinable()) m_thread.detach();
}

std::unique_ptr<PAGE_POPULATOR> PAGE_POPULATOR::start(std::vector<std::pair<char*, char*>> ranges,
                                                      READY ready) {
  std::size_t bytes = 0;
  for (auto const& range : ranges) bytes += static_cast<std::size_t>(range.second - range.first);
  if (bytes < kWorthwhileBytes) return nullptr;
  return std::unique_ptr<PAGE_POPULATOR>(new (std::nothrow)
                                             PAGE_POPULATOR(std::move(ranges), ready));
}

}  // namespace zema_host

namespace {

class ARENA {
 public:
  ARENA() {
#if ZEMA_HOST_POOLS
    char const* const setting = std::getenv("ZEMA_HOST_POOLS");
    if (setting != nullptr && std::strcmp(setting, "0") == 0) return;
    reserve();
#endif
  }

  // Starts a populator (once) for the next `bytes` of fresh memory: the
  // rest of the current segment, then the start of the next one, which is
  // reserved here when the current one is short. It keeps kPrefaultLead
  // ahead of the fresh memory handed out: a budget sized for the largest
  // use then costs a design that uses less no more than that lead, while
  // one that uses it all has the kernel's clearing done on the other core
  // (on a million-cell netlist, half a second of the main thread's time).
  // The arena's memory stays mapped for the process, so the thread is let
  // go. A budget that the arena overtakes only means the rest is touched as
  // usual.
  void start_prefault(std::size_t bytes) {
    if (m_segments.empty() || m_prefault) return;
    // Freed slabs (adopted pages among them) serve the blocks first, and
    // their pages need no populating.
    for (auto const& run : m_runs_by_address) {
      std::size_t const reused = run.second * kSlabBytes;
      bytes = bytes > reused ? bytes - reused : 0;
    }
    if (bytes == 0) return;
    std::size_t const room = static_cast<std::size_t>(m_limit - m_next);
    std::vector<std::pair<char*, char*>> ranges{{m_next, m_next + std::min(bytes, room)}};
    if (bytes > room && reserve_next(bytes - room)) {
      SEGMENT const& next = m_segments[m_current + 1];
      std::size_t const more = std::min<std::size_t>(bytes - room, next.m_limit - next.m_base);
      ranges.emplace_back(next.m_base, next.m_base + more);
    }
    zema_host::PAGE_POPULATOR::LEAD const lead{
        &m_fresh_taken, m_fresh_taken.load(std::memory_order_relaxed), kPrefaultLead};
    // The range is never unmapped, so the detached thread may read it.
    m_prefault.reset(new (std::nothrow) zema_host::PAGE_POPULATOR(
        std::move(ranges), lead, zema_host::PAGE_POPULATOR::READY::TOUCHED));
    if (m_prefault) m_prefault->detach();
  }

  bool is_open() const { return !m_segments.empty(); }

  // Asks for small pages from now on, in the segments reserved and in those
  // to come; pages already touched stay as they are.
  void use_small_pages() {
    m_small_pages = true;
    for (SEGMENT const& segment : m_segments) {
      madvise(segment.m_base, static_cast<std::size_t>(segment.m_limit - segment.m_base),
              MADV_NOHUGEPAGE);
    }
  }

  // After use_small_pages: the next `bytes` of fresh memory of the current
  // segment ask for huge pages again (the kernel gives them to the aligned
  // 2 MiB extents wholly inside), and adopt() takes nothing from then on.
  void use_huge_pages(std::size_t bytes) {
    if (m_segments.empty() || !m_small_pages) return;
    std::size_t const run = std::min(bytes, static_cast<std::size_t>(m_limit - m_next));
    if (run == 0) return;
    madvise(m_next, run, MADV_HUGEPAGE);
    m_adopting = false;
  }

  // Moves the whole slabs at the start of [pages, pages + bytes) to the
  // range's fresh end, as many as the current segment has room for, and
  // enters them as a freed run; gives the bytes taken. Only in a program
  // that touches its memory once, whose range need not shrink again.
  std::size_t adopt(char* pages, std::size_t bytes) {
    if (m_segments.empty() || !m_small_pages || !m_adopting) return 0;
    std::size_t const room = static_cast<std::size_t>(m_limit - m_next);
    std::size_t const slabs = std::min(bytes, room) / kSlabBytes;
    if (slabs == 0) return 0;
    std::size_t const taken = slabs * kSlabBytes;
    // The page tables move, not the pages: nothing is copied or touched.
    if (mremap(pages, taken, taken, MREMAP_MAYMOVE | MREMAP_FIXED, m_next) == MAP_FAILED) return 0;
    char* const start = m_next;
    m_next += taken;
    m_fresh_taken.fetch_add(taken, std::memory_order_relaxed);
    give_back(start, slabs);
    return taken;
  }

  // The pool of `thunk` and `size` when the cache knows it, else null. Only
  // pools of registered records are cached, and none of a null record.
  POOL* cached_pool(MEM_TRACKER_THUNK const* thunk, std::size_t size) const {
    POOL* const pool = m_cache[slot_of(thunk, size)];
    return pool != nullptr && pool->m_thunk == thunk && pool->m_size == size ? pool : nullptr;
  }

  // A pool's next block from its free list, cleared. With bump, the common
  // case of allocate(), which new_wrapper takes inline: each ends in its only
  // call, so that new_wrapper saves no registers.
  static void* pop_free(POOL* pool) {
    void* const block = pool->m_free;
    pool->m_free = *static_cast<void**>(block);
    return std::memset(block, 0, pool->m_stride);
  }

  // A pool's next block from its slab, which has room for it; zero-filled.
  static void* bump(POOL* pool) {
    void* const block = pool->m_bump;
    pool->m_bump += pool->m_stride;
    if (pool->m_bump > pool->m_zeroed) return clear_ahead(pool, block);
    return block;
  }

  static bool has_room(POOL const* pool) {
    return static_cast<std::size_t>(pool->m_end - pool->m_bump) >= pool->m_stride;
  }

  // A zero-filled block of `size` bytes charged to `thunk`, or null when the
  // range is missing or full.
  void* allocate(MEM_TRACKER_THUNK* thunk, std::size_t size) {
    if (m_segments.empty()) return nullptr;
    if (size > kLargestPooled) return allocate_span(thunk, size);
    POOL* const pool = find(thunk, size);
    if (pool->m_free != nullptr) {
      ++pool->m_live;
      return pop_free(pool);
    }
    if (!has_room(pool)) {
      // Room for the slab's entry first: if that allocation throws, no slab
      // has been taken and the pool is as it was.
      if (pool->m_slabs.size() == pool->m_slabs.capacity()) {
        pool->m_slabs.reserve(2 * pool->m_slabs.size() + 1);
      }
      bool reused = false;
      char* const slab = take_run(1, reused);
      if (slab == nullptr) return nullptr;
      pool->m_slabs.push_back(slab);
      entry(slab) = SLAB{pool, nullptr};
      pool->m_bump = slab;
      pool->m_end = slab + kSlabBytes;
      pool->m_zeroed = reused ? slab : pool->m_end;
    }
    ++pool->m_live;
    return bump(pool);
  }

  // Frees a block of the range after `discharge` has been called with its
  // record and size; false, doing nothing, for a block from elsewhere.
  template <class DISCHARGE>
  bool release(void* block, DISCHARGE discharge) {
    SEGMENT const* const segment = segment_of(block);
    if (segment == nullptr) return false;
    SLAB const slab = entry(*segment, block);
    if (SPAN* const span = slab.m_span) {
      // The slabs of a freed span serve later spans, pools and chunks:
      // memory that has been touched once is far cheaper to clear than
      // fresh memory, and reusing it keeps a process that builds and drops
      // big tables again and again from growing.
      discharge(span->m_thunk, span->m_size);
      char* const start = static_cast<char*>(block);
      entry(start) = SLAB{nullptr, nullptr};
      give_back(start, span->m_slabs);
      delete span;
      return true;
    }
    POOL* const pool = slab.m_pool;
    discharge(pool->m_thunk, pool->m_size);
    if (--pool->m_live == 0) {
      // The last block of a pool went, as when a converter is cleared: its
      // slabs serve the next allocations in order, where a free list
      // threaded through a freed tree would hand out blocks scattered all
      // over its slabs.
      for (char* const slab : pool->m_slabs) {
        entry(slab) = SLAB{nullptr, nullptr};
        give_back(slab, 1);
      }
      pool->m_slabs.clear();
      pool->m_free = nullptr;
      pool->m_bump = pool->m_end = pool->m_zeroed = nullptr;
      return true;
    }
    *static_cast<void**>(block) = pool->m_free;
    pool->m_free = block;
    return true;
  }

 private:
  // The first segment: a small one, which a small design never outgrows.
  void reserve() {
    std::size_t const first = sizeof(void*) == 8 ? std::size_t(256) << 20 : std::size_t(64) << 20;
    if (!add_segment(first)) return;
    m_next = m_segments[0].m_base;
    m_limit = m_segments[0].m_limit;
  }

  // Reserves a segment of `bytes` (a multiple of the huge page) after the
  // others; false when the address space refuses it.
  bool add_segment(std::size_t bytes) {
    // Room for the entry first, so that a failure leaves no mapping behind.
    if (m_segments.size() == m_segments.capacity()) m_segments.reserve(2 * m_segments.size() + 1);
    void* const range = mmap(nullptr, bytes + kHugePageBytes, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (range == MAP_FAILED) return false;
    std::size_t const table_bytes = (bytes >> kSlabShift) * sizeof(SLAB);
    void* const table = mmap(nullptr, table_bytes, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (table == MAP_FAILED) {
      munmap(range, bytes + kHugePageBytes);
      return false;
    }
    // Huge pages need ranges aligned to their size.
    std::uintptr_t const start = reinterpret_cast<std::uintptr_t>(range);
    std::size_t const skip = (kHugePageBytes - start % kHugePageBytes) % kHugePageBytes;
    char* const base = static_cast<char*>(range) + skip;
    madvise(base, bytes, m_small_pages ? MADV_NOHUGEPAGE : MADV_HUGEPAGE);
    m_segments.push_back(SEGMENT{base, base + bytes, static_cast<SLAB*>(table)});  // has room
    return true;
  }

  // Makes sure a segment follows the current one, reserving one with room
  // for `bytes` at least and twice the size of the last; false when the
  // address space refuses it.
  bool reserve_next(std::size_t bytes) {
    if (m_current + 1 < m_segments.size()) return true;
    if (bytes > (std::size_t(-1) >> 2)) return false;
    std::size_t size =
        2 * static_cast<std::size_t>(m_segments.back().m_limit - m_segments.back().m_base);
    while (size < bytes) size *= 2;
    return add_segment(size);
  }

  // Takes fresh slabs from the next segment on; what the current one has
  // left serves later allocations as freed slabs do.
  void move_to_next_segment() {
    std::size_t const rest = static_cast<std::size_t>(m_limit - m_next) / kSlabBytes;
    if (rest > 0) give_back(m_next, rest);
    m_fresh_taken.fetch_add(static_cast<std::size_t>(m_limit - m_next), std::memory_order_relaxed);
    SEGMENT const& next = m_segments[++m_current];
    m_next = next.m_base;
    m_limit = next.m_limit;
  }

  // The segment that holds `address`, or null.
  SEGMENT const* segment_of(void const* address) const {
    char const* const p = static_cast<char const*>(address);
    if (m_segments.empty()) return nullptr;
    // Newest first: it holds most of a big design's blocks.
    for (auto segment = m_segments.rbegin(); segment != m_segments.rend(); ++segment) {
      if (p >= segment->m_base && p < segment->m_limit) return &*segment;
    }
    return nullptr;
  }

  SLAB& entry(void const* address) const { return entry(*segment_of(address), address); }

  static SLAB& entry(SEGMENT const& segment, void const* address) {
    return segment
        .m_slabs[static_cast<std::size_t>(static_cast<char const*>(address) - segment.m_base) >>
                 kSlabShift];
  }

  // Clears the next bytes of a reused slab up to the pool's bump: a few
  // pages at a time, so that the blocks are still in the cache when they are
  // written and a pool that takes a slab for a few blocks clears little.
  // Gives `block` back, so that callers end in a call to it.
  static __attribute__((noinline)) void* clear_ahead(POOL* pool, void* block) {
    std::size_t const ahead =
        std::min<std::size_t>(std::size_t(4) << 10, pool->m_end - pool->m_zeroed);
    char* const to = std::max(pool->m_bump, pool->m_zeroed + ahead);
    std::memset(pool->m_zeroed, 0, static_cast<std::size_t>(to - pool->m_zeroed));
    pool->m_zeroed = to;
    return block;
  }

  // Fresh slabs from the end of what the range has handed out, from a new
  // segment when the current one is full.
  char* take_fresh(std::size_t count) {
    while (static_cast<std::size_t>(m_limit - m_next) / kSlabBytes < count) {
      if (!reserve_next(count * kSlabBytes)) return nullptr;
      move_to_next_segment();
    }
    char* const slabs = m_next;
    m_next += count * kSlabBytes;
    m_fresh_taken.fetch_add(count * kSlabBytes, std::memory_order_relaxed);
    return slabs;
  }

  // `count` slabs in a row: the front of the smallest freed run that holds
  // them before fresh ones, with `reused` set when they come from a run and so
  // are not zero. Taking the lowest address among equal runs hands the slabs
  // of a freed pool out again in order.
  char* take_run(std::size_t count, bool& reused) {
    auto const fit = m_runs_by_size.lower_bound(std::make_pair(count, static_cast<char*>(nullptr)));
    if (fit == m_runs_by_size.end()) {
      reused = false;
      return take_fresh(count);
    }
    std::size_t const length = fit->first;
    char* const start = fit->second;
    // The rest of the run is entered before the run leaves the maps, so that
    // an allocation failure there leaves the free runs as they were.
    if (length > count) add_run(start + count * kSlabBytes, length - count);
    m_runs_by_size.erase(fit);
    m_runs_by_address.erase(start);
    reused = true;
    return start;
  }

  // Returns `count` slabs from `start` to the free runs, joined with the
  // free runs right before and after them.
  void give_run(char* start, std::size_t count) {
    auto next = m_runs_by_address.lower_bound(start);
    if (next != m_runs_by_address.begin()) {
      auto const previous = std::prev(next);
      if (previous->first + previous->second * kSlabBytes == start) {
        start = previous->first;
        count += previous->second;
        remove_run(previous);
      }
    }
    if (next != m_runs_by_address.end() && start + count * kSlabBytes == next->first) {
      count += next->second;
      remove_run(next);
    }
    add_run(start, count);
  }

  // give_run for a caller that must not throw: freeing never fails, and
  // slabs whose bookkeeping cannot be allocated are simply not reused.
  void give_back(char* start, std::size_t count) noexcept {
    try {
      give_run(start, count);
    } catch (std::bad_alloc const&) {
    }
  }

  // Enters a free run in both maps, or in neither when an allocation fails.
  void add_run(char* start, std::size_t count) {
    auto const entered = m_runs_by_address.emplace(start, count).first;
    try {
      m_runs_by_size.emplace(count, start);
    } catch (...) {
      m_runs_by_address.erase(entered);
      throw;
    }
  }

  void remove_run(std::map<char*, std::size_t>::iterator run) {
    m_runs_by_size.erase(std::make_pair(run->second, run->first));
    m_runs_by_address.erase(run);
  }

  void* allocate_span(MEM_TRACKER_THUNK* thunk, std::size_t size) {
    if (size > (std::size_t(-1) >> 2)) return nullptr;
    std::size_t const slabs = (size + kSlabBytes - 1) / kSlabBytes;
    std::unique_ptr<SPAN> span(new SPAN{thunk, size, slabs});
    bool reused = false;
    char* const start = take_run(slabs, reused);
    if (start == nullptr) return nullptr;
    if (reused) std::memset(start, 0, size);
    entry(start) = SLAB{nullptr, span.release()};
    return start;
  }

  // The pool of (thunk, size). A small direct-mapped cache in front of the
  // index answers almost every call: a converter's init takes blocks of a
  // few kinds in turn, millions of times. Pools live as long as the
  // process, so a cached pointer never dangles.
  POOL* find(MEM_TRACKER_THUNK* thunk, std::size_t size) {
    POOL*& cached = m_cache[slot_of(thunk, size)];
    if (cached != nullptr && cached->m_thunk == thunk && cached->m_size == size) return cached;
    POOL*& pool = m_index[std::make_pair(thunk, size)];
    if (pool == nullptr) {
      // 8-byte aligned, 16 when the size is a multiple of 16 (0 counts as 16).
      std::size_t const stride = size == 0 ? 16 : (size + 7) & ~std::size_t(7);
      pool = new POOL;
      pool->m_thunk = thunk;
      pool->m_size = size;
      pool->m_stride = stride;
    }
    return cached = pool;
  }

  static std::size_t slot_of(MEM_TRACKER_THUNK const* thunk, std::size_t size) {
    std::uintptr_t const key = reinterpret_cast<std::uintptr_t>(thunk) ^ size;
    return (key ^ (key >> 6) ^ (key >> 12)) % kCacheSlots;
  }

  std::vector<SEGMENT> m_segments;  // in the order they were reserved
  bool m_small_pages = false;       // segments ask for small pages, not huge ones
  bool m_adopting = true;           // adopt() takes pages given up
  std::size_t m_current = 0;        // the segment fresh slabs come from
  char* m_next = nullptr;           // its fresh slabs
  char* m_limit = nullptr;
  boost::unordered_flat_map<std::pair<MEM_TRACKER_THUNK*, std::size_t>, POOL*,
                            boost::hash<std::pair<MEM_TRACKER_THUNK*, std::size_t>>>
      m_index;
  static std::size_t const kCacheSlots = 64;
  POOL* m_cache[kCacheSlots] = {};
  // Freed slabs, as maximal runs of neighbours, by address and by length.
  std::map<char*, std::size_t> m_runs_by_address;
  std::set<std::pair<std::size_t, char*>> m_runs_by_size;
  std::unique_ptr<zema_host::PAGE_POPULATOR> m_prefault;
  // Bytes of the range handed out fresh or passed over, for the
  // prefault to keep its lead on.
  std::atomic<std::size_t> m_fresh_taken{0};
};

struct MEM_STATE {
  std::vector<MEM_TRACKER_THUNK*> m_thunks;  // every record seen, in order of first use
  std::vector<std::string> m_close_reports;
  bool m_close_echo = true;
  long m_fail_countdown = -1;  // allocations left before the injected failure; < 0: off
  // While a MEM_SHARING lives: every block is taken and freed under m_lock,
  // out of the fast path.
  bool m_shared = false;
  // Neither of the above: new_wrapper may take its common case.
  bool m_quick = true;
  std::mutex m_lock;
  ARENA m_arena;

  void update_quick() { m_quick = m_fail_countdown < 0 && !m_shared; }
};

// The bookkeeping once state() has made it: a constant-initialised pointer
// that the allocation fast path reads without the guard of a local static.
MEM_STATE* g_state = nullptr;

MEM_STATE& state() {
  static MEM_STATE* s_state = g_state = new MEM_STATE;
  return *s_state;
}

void* allocate_with_header(MEM_TRACKER_THUNK* thunk, std::size_t size) {
  if (size > SIZE_MAX - sizeof(BLOCK_HEADER)) throw std::bad_alloc();
  BLOCK_HEADER* const header =
      static_cast<BLOCK_HEADER*>(std::calloc(1, sizeof(BLOCK_HEADER) + size));
  if (header == nullptr) throw std::bad_alloc();
  header->m_thunk = thunk;
  header->m_size = size;
  return header + 1;
}

void count_block(MEM_TRACKER_THUNK* thunk, std::size_t size) {
  thunk->m_live_bytes += size;
  thunk->m_live_blocks += 1;
  thunk->m_total_blocks += 1;
}

void register_thunk(MEM_STATE& st, MEM_TRACKER_THUNK* thunk) {
  if (thunk->m_registered) return;
  st.m_thunks.push_back(thunk);
  thunk->m_registered = true;
}

void discharge(MEM_TRACKER_THUNK* thunk, std::size_t size, char const* module) {
  // Modules pass their own name literal, so equal pointers settle it without strcmp.
  if (module != nullptr && thunk->m_module != nullptr && module != thunk->m_module &&
      std::strcmp(module, thunk->m_module) != 0) {
    MSG_INTERNAL_ERROR::report("block freed by the module that allocated it", module, __FILE__,
                               __LINE__);
  }
  if (thunk->m_live_blocks == 0 || thunk->m_live_bytes < size) {
    MSG_INTERNAL_ERROR::report("tracking record holds the freed block", "MEM", __FILE__, __LINE__);
  } else {
    thunk->m_live_bytes -= size;
    thunk->m_live_blocks -= 1;
  }
}

// new_wrapper's every case but the common one, out of line so that the
// common one stays a few dozen instructions.
__attribute__((noinline)) void* new_block(std::size_t size, MEM_TRACKER_THUNK* thunk,
                                          char const* file) {
  MEM_STATE& st = state();
  std::unique_lock<std::mutex> shared;
  if (st.m_shared) shared = std::unique_lock<std::mutex>(st.m_lock);
  if (st.m_fail_countdown >= 0) {
    // One-shot: the chosen allocation fails and later ones succeed again.
    if (st.m_fail_countdown-- == 0) {
      st.update_quick();
      throw std::bad_alloc();
    }
  }
  if (thunk == nullptr) {
    MSG_INTERNAL_ERROR::report("thunk != nullptr", "MEM", file != nullptr ? file : "?", 0);
    return allocate_with_header(nullptr, size);
  }
  // The record is registered before a block is taken, so that a failure to
  // register it leaves no block behind.
  register_thunk(st, thunk);
  void* block = st.m_arena.allocate(thunk, size);
  if (block == nullptr) block = allocate_with_header(thunk, size);
  count_block(thunk, size);
  return block;
}

}  // namespace

void* MEM_MANAGER::new_wrapper(std::size_t size, MEM_TRACKER_THUNK* thunk, char const* file) {
  MEM_STATE* const st = g_state;
  if (st != nullptr && st->m_quick) {
    if (POOL* const pool = st->m_arena.cached_pool(thunk, size)) {
      if (pool->m_free != nullptr) {
        ++pool->m_live;
        count_block(thunk, size);
        return ARENA::pop_free(pool);
      }
      if (ARENA::has_room(pool)) {
        ++pool->m_live;
        count_block(thunk, size);
        return ARENA::bump(pool);
      }
    }
  }
  return new_block(size, thunk, file);
}

void MEM_MANAGER::delete_wrapper(void* block, char const* module) {
  if (block == nullptr) return;
  // Any block came through new_wrapper, which made the bookkeeping.
  MEM_STATE& st = g_state != nullptr ? *g_state : state();
  std::unique_lock<std::mutex> shared;
  if (st.m_shared) shared = std::unique_lock<std::mutex>(st.m_lock);
  if (st.m_arena.release(block, [module](MEM_TRACKER_THUNK* thunk, std::size_t size) {
        discharge(thunk, size, module);
      })) {
    return;
  }
  BLOCK_HEADER* const header = static_cast<BLOCK_HEADER*>(block) - 1;
  if (header->m_thunk != nullptr) discharge(header->m_thunk, header->m_size, module);
  std::free(header);
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
  if (state().m_close_echo) std::fprintf(stderr, "%s\n", line);
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

void mem_fail_after(long n) {
  MEM_STATE& st = state();
  st.m_fail_countdown = n < 0 ? -1 : n;
  st.update_quick();
}

void mem_prefault(std::size_t bytes) { state().m_arena.start_prefault(bytes); }

void mem_small_pages() { state().m_arena.use_small_pages(); }

void mem_huge_pages(std::size_t bytes) { state().m_arena.use_huge_pages(bytes); }

std::size_t mem_adopt_pages(void* pages, std::size_t bytes) {
  return state().m_arena.adopt(static_cast<char*>(pages), bytes);
}

bool mem_pooled() { return state().m_arena.is_open(); }

MEM_SHARING::MEM_SHARING() {
  state().m_shared = true;
  state().update_quick();
}

MEM_SHARING::~MEM_SHARING() {
  state().m_shared = false;
  state().update_quick();
}

std::vector<std::string> const& mem_close_reports() { return state().m_close_reports; }

void set_mem_close_echo(bool on) { state().m_close_echo = on; }

}  // namespace zema_host
