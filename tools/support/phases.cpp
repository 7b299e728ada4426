#include "tools/support/phases.h"

#include <sys/resource.h>

#include <cstring>

namespace zema_tool {
namespace {

// A field of /proc/self/status in KiB ("VmHWM:", the peak resident memory;
// "VmRSS:", the current), or -1.
long status_kib(char const* field) {
  std::FILE* const status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long value = -1;
  std::size_t const length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, length) == 0) {
      value = std::strtol(line + length, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return value;
}

// Resets the peak to the current resident memory; false where refused.
bool reset_peak() {
  std::FILE* const refs = std::fopen("/proc/self/clear_refs", "w");
  if (refs == nullptr) return false;
  bool const written = std::fputs("5", refs) >= 0;
  return std::fclose(refs) == 0 && written;
}

double seconds_of(timeval const& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

// CPU seconds of the whole process, all its threads: user and system apart,
// as a run that faults in fresh pages spends much of its time in the kernel,
// and a helper thread's work shows only here, not in the wall time.
PHASES::CPU PHASES::cpu_now() {
  rusage self;
  rusage children;
  if (getrusage(RUSAGE_SELF, &self) != 0 || getrusage(RUSAGE_CHILDREN, &children) != 0) {
    return CPU{0, 0};
  }
  return CPU{seconds_of(self.ru_utime) + seconds_of(children.ru_utime),
             seconds_of(self.ru_stime) + seconds_of(children.ru_stime)};
}

namespace {}  // namespace

PHASES::PHASES(bool stats, bool progress)
    : m_stats(stats), m_progress(progress), m_run_start(CLOCK::now()) {
  m_phase_start = m_run_start;
  if (m_progress) m_painter = std::thread([this] { show_progress(); });
}

PHASES::~PHASES() { stop_progress(); }

// Stops the progress line and erases it, so that whatever comes next on
// standard error (the stats, or an error line) starts a clean line.
void PHASES::stop_progress() {
  if (!m_painter.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_painter.join();
  if (m_shown) std::fputs("\r\033[K", stderr);
}

void PHASES::end_phase() {
  char const* const current = m_current.load();
  if (current == nullptr) return;
  CLOCK::time_point const now = CLOCK::now();
  CPU const cpu = cpu_now();
  m_done.push_back({current, std::chrono::duration<double>(now - m_phase_start).count(),
                    CPU{cpu.m_user - m_phase_cpu.m_user, cpu.m_system - m_phase_cpu.m_system},
                    m_stats ? status_kib("VmHWM:") : -1, m_stats ? status_kib("VmRSS:") : -1});
  m_phase_start = now;
  m_phase_cpu = cpu;
}

void PHASES::start(char const* name) {
  end_phase();
  if (m_stats) m_reset_works = reset_peak();
  m_phase_start = CLOCK::now();
  m_phase_cpu = cpu_now();
  m_current.store(name);
}

void PHASES::finish(std::FILE* out) {
  end_phase();
  m_current.store(nullptr);
  stop_progress();
  if (!m_stats) return;
  long total_peak = -1;
  for (PHASE const& phase : m_done) {
    if (phase.m_peak_kib > total_peak) total_peak = phase.m_peak_kib;
    std::fprintf(out,
                 "zema: stats: %-6s %8.3f s wall %8.3f s user %8.3f s sys  peak RSS %8.1f MiB  at "
                 "end %8.1f MiB\n",
                 phase.m_name, phase.m_seconds, phase.m_cpu.m_user, phase.m_cpu.m_system,
                 static_cast<double>(phase.m_peak_kib) / 1024.0,
                 static_cast<double>(phase.m_end_kib) / 1024.0);
  }
  double const total = std::chrono::duration<double>(CLOCK::now() - m_run_start).count();
  CPU const cpu = cpu_now();
  std::fprintf(out,
               "zema: stats: %-6s %8.3f s wall %8.3f s user %8.3f s sys  peak RSS %8.1f MiB%s\n",
               "total", total, cpu.m_user, cpu.m_system, static_cast<double>(total_peak) / 1024.0,
               m_reset_works ? "" : " (peaks count from the start)");
}

void PHASES::show_progress() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_stop; })) {
    double const seconds = std::chrono::duration<double>(CLOCK::now() - m_run_start).count();
    char const* const current = m_current.load();
    if (seconds < 1.0 || current == nullptr) continue;
    std::fprintf(stderr, "\r\033[Kzema: %s... %.0f s", current, seconds);
    std::fflush(stderr);
    m_shown = true;
  }
}

}  // namespace zema_tool
