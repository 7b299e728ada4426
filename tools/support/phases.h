// PHASES: the phases of one run of the command (read, build, init, write),
// with what --stats prints of each and the progress line a person sees.
//
// With --stats every phase's wall time, user and system CPU time (all
// threads, and the child processes waited for; a child's time counts in
// the phase that waits for its end) and peak resident memory (of this
// process) go to
// standard error when the run ends. The peak of a phase is the kernel's
// high-water mark (VmHWM), reset through /proc/self/clear_refs as the phase
// starts; where the reset is refused, the peaks count from the start.
//
// When standard error is a terminal, a run that takes longer than a second
// shows one line that names the current phase and its time, rewritten in
// place and erased at the end; otherwise nothing is printed.
#ifndef TOOLS_SUPPORT_PHASES_H
#define TOOLS_SUPPORT_PHASES_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zema_tool {

class PHASES {
 public:
  PHASES(bool stats, bool progress);
  ~PHASES();
  PHASES(PHASES const&) = delete;
  PHASES& operator=(PHASES const&) = delete;

  // Ends the current phase, if any, and starts `name` (a string literal).
  void start(char const* name);
  // Ends the current phase and the progress line; with --stats, prints one
  // line per phase and a total to `out`.
  void finish(std::FILE* out);

  // CPU seconds of the whole process so far, all threads, and its child
  // processes that have ended.
  struct CPU {
    double m_user;
    double m_system;
  };
  static CPU cpu_now();

 private:
  typedef std::chrono::steady_clock CLOCK;
  struct PHASE {
    char const* m_name;
    double m_seconds;
    CPU m_cpu;
    long m_peak_kib;  // -1: unknown
    long m_end_kib;
  };

  void end_phase();
  void show_progress();
  void stop_progress();

  bool m_stats;
  bool m_progress;
  bool m_reset_works = false;
  CLOCK::time_point m_run_start;
  CLOCK::time_point m_phase_start;
  CPU m_phase_cpu{0, 0};
  std::atomic<char const*> m_current{nullptr};
  std::vector<PHASE> m_done;

  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
  bool m_shown = false;
  std::thread m_painter;
};

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_PHASES_H
