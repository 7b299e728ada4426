// Hooks shared by the reference host's source files; not part of the host API.
//
// The call log is kept in messages.cpp with the other inspection records; the
// naming functions and the path lookup record into it through these hooks.
// The page populator (mem_manager.cpp) serves the memory arena and the
// design's arenas.
#ifndef HOST_HOST_INTERNAL_H
#define HOST_HOST_INTERNAL_H

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace zema_host {
namespace internal {

// The first touch of fresh memory is what a big design pays most for. A
// part of the host that knows which fresh memory it is about to fill lets a
// thread of this populator take that cost on another core: it populates
// each [first, second) in turn with MADV_POPULATE_WRITE, which brings pages
// in as a write would but never writes them, so it is safe while other
// threads fill the same memory. It stops at the first step the kernel
// refuses (a kernel older than 5.14 refuses them all). When no thread can be
// started, nothing is populated and the memory is touched as usual.
class PAGE_POPULATOR {
 public:
  explicit PAGE_POPULATOR(std::vector<std::pair<char*, char*>> ranges) noexcept;
  // Stops the thread at its next step and waits for it, unless detach() let
  // it go: the ranges' memory must stay mapped while it runs. In a child
  // forked meanwhile, where the thread does not run, it only lets it go.
  ~PAGE_POPULATOR();
  PAGE_POPULATOR(PAGE_POPULATOR const&) = delete;
  PAGE_POPULATOR& operator=(PAGE_POPULATOR const&) = delete;

  // For memory that stays mapped as long as the process: its end need not
  // wait for the thread.
  void detach();

 private:
  std::shared_ptr<std::atomic<bool>> m_stop;
  std::thread m_thread;
  pid_t m_process = 0;  // that started the thread
};

// Whether set_call_log switched recording on; callers skip building the
// record when it is off.
bool call_log_on();
// Appends one record to the call log (a null text is recorded as empty).
void log_call(char const* function, char const* text, int type, bool flag1, bool flag2);

}  // namespace internal
}  // namespace zema_host

#endif  // HOST_HOST_INTERNAL_H
