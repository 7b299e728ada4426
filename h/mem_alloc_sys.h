// Host memory manager: tracked, zero-filled allocation for every module.
//
// Every block a module allocates is attributed to a tracking record
// (MEM_TRACKER_THUNK) that names the element type, its size, a category and
// the owning module, so the host can report what a module still holds when its
// MEM_INITIALIZER closes. Blocks from new_wrapper are always zero-filled;
// new_wrapper throws std::bad_alloc when memory runs out and never returns
// null.
#ifndef H_MEM_ALLOC_SYS_H
#define H_MEM_ALLOC_SYS_H

#include <cstddef>
#include <new>
#include <typeinfo>

// One tracking record per element type and module. The host updates the
// counters; m_registered tells it whether it has seen the record before.
struct MEM_TRACKER_THUNK {
  std::type_info const* m_type;
  unsigned m_element_size;
  int m_category;
  char const* m_module;
  bool m_registered;
  unsigned long long m_live_bytes;
  unsigned long long m_live_blocks;
  unsigned long long m_total_blocks;
};

// The tracking record of element type T in the module "ZEMA".
template <class T, int CATEGORY, int TRACK>
struct MEM_TRACKER_TEMPLATE_ZEMA {
  static MEM_TRACKER_THUNK s_thunk;
};

// T may be a pointer type (bucket arrays are tracked by their element type).
// NOLINTBEGIN(bugprone-sizeof-expression)
template <class T, int CATEGORY, int TRACK>
MEM_TRACKER_THUNK MEM_TRACKER_TEMPLATE_ZEMA<T, CATEGORY, TRACK>::s_thunk = {
    &typeid(T), sizeof(T), CATEGORY, "ZEMA", false, 0, 0, 0};
// NOLINTEND(bugprone-sizeof-expression)

class MEM_MANAGER {
 public:
  // Gives a zero-filled block of `size` bytes attributed to `thunk`; `file`
  // names the allocating source for diagnostics. Throws std::bad_alloc.
  static void* new_wrapper(std::size_t size, MEM_TRACKER_THUNK* thunk, char const* file);
  // Frees a block from new_wrapper; `module` must be the module that
  // allocated it. Null is ignored.
  static void delete_wrapper(void* block, char const* module);
};

// Opens a module's use of the memory manager; the destructor closes it and
// lets the host report whatever the module still holds.
class MEM_INITIALIZER {
 public:
  explicit MEM_INITIALIZER(char const* module);
  ~MEM_INITIALIZER();
  MEM_INITIALIZER(MEM_INITIALIZER const&) = delete;
  MEM_INITIALIZER& operator=(MEM_INITIALIZER const&) = delete;

 private:
  char const* m_module;
};

// Standard allocator over the tracked memory manager, for the host string and
// the growable lists of the module "ZEMA".
template <class T>
class MEM_STL_ALLOCATOR {
 public:
  using value_type = T;

  MEM_STL_ALLOCATOR() noexcept = default;
  template <class U>
  MEM_STL_ALLOCATOR(MEM_STL_ALLOCATOR<U> const&)
  noexcept {}

  // T may be a pointer type (lists of nodes are lists of pointers).
  // NOLINTBEGIN(bugprone-sizeof-expression)
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(MEM_MANAGER::new_wrapper(
        n * sizeof(T), &MEM_TRACKER_TEMPLATE_ZEMA<T, 1255, 1>::s_thunk, "h/mem_alloc_sys.h"));
  }
  // NOLINTEND(bugprone-sizeof-expression)
  void deallocate(T* block, std::size_t) noexcept { MEM_MANAGER::delete_wrapper(block, "ZEMA"); }

  template <class U>
  bool operator==(MEM_STL_ALLOCATOR<U> const&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(MEM_STL_ALLOCATOR<U> const&) const noexcept {
    return false;
  }
};

// Class-level operator new/delete that route a class's heap objects through
// the tracked memory manager under the class's own tracking record. The
// objects start zero-filled, then their constructor runs.
#define MEM_TRACKED_NEW_DELETE(CLASS)                                                          \
  static void* operator new(std::size_t size) {                                                \
    return MEM_MANAGER::new_wrapper(size, &MEM_TRACKER_TEMPLATE_ZEMA<CLASS, 1255, 1>::s_thunk, \
                                    __FILE__);                                                 \
  }                                                                                            \
  static void operator delete(void* block) { MEM_MANAGER::delete_wrapper(block, "ZEMA"); }

#endif  // H_MEM_ALLOC_SYS_H
