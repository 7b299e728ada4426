// The reference host's message services and inspection records: internal-error
// reports, module debug output, and the call log of the naming functions and
// path lookups.
//
// Records are kept in heap objects that are never freed, so a report made
// while the process unloads (a module closing late) still has somewhere to go.
#include "h/msg_sys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/host_internal.h"
#include "host/zema_host.h"

namespace {

struct MSG_STATE {
  std::vector<zema_host::INTERNAL_ERROR> m_internal_errors;
  // A converter's queries may run on several threads at once (see
  // MEM_SHARING), and any of them may report.
  std::mutex m_report_lock;
  bool m_echo_internal_errors = true;
  int m_debug_output = -1;  // -1: not decided yet, read from the environment on first use
  std::vector<std::string> m_debug_lines;
  bool m_call_log_on = false;
  std::vector<zema_host::HOST_CALL> m_calls;
  std::size_t m_dropped = 0;
};

MSG_STATE& state() {
  static MSG_STATE* s_state = new MSG_STATE;
  return *s_state;
}

char const* or_empty(char const* text) { return text != nullptr ? text : ""; }

// Records are for tests and tools to inspect; a long-running host must not
// collect them without bound, so each kind keeps its first kKeptRecords and
// only counts the rest.
std::size_t const kKeptRecords = 100000;

template <class RECORD>
void keep(std::vector<RECORD>& records, RECORD record) {
  if (records.size() < kKeptRecords) {
    records.push_back(std::move(record));
  } else {
    ++state().m_dropped;
  }
}

bool debug_output_on() {
  MSG_STATE& st = state();
  if (st.m_debug_output < 0) {
    char const* value = std::getenv("ZEMA_HOST_DEBUG");
    st.m_debug_output = value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
  }
  return st.m_debug_output != 0;
}

}  // namespace

void MSG_INTERNAL_ERROR::report(char const* condition, char const* module, char const* file,
                                int line) {
  MSG_STATE& st = state();
  std::lock_guard<std::mutex> const lock(st.m_report_lock);
  keep(st.m_internal_errors,
       zema_host::INTERNAL_ERROR{or_empty(condition), or_empty(module), or_empty(file), line});
  if (st.m_echo_internal_errors) {
    std::fprintf(stderr, "internal error: condition \"%s\" failed in module %s at %s:%d\n",
                 or_empty(condition), or_empty(module), or_empty(file), line);
  }
}

bool msg_local_vdebug(char* module, char const* format, va_list args) {
  if (!debug_output_on()) return false;
  std::string text;
  if (format != nullptr) {
    char small[256];
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(small, sizeof small, format, args);
    if (length >= static_cast<int>(sizeof small)) {
      text.resize(static_cast<std::size_t>(length) + 1);
      std::vsnprintf(&text[0], text.size(), format, again);
      text.resize(static_cast<std::size_t>(length));
    } else if (length > 0) {
      text.assign(small, static_cast<std::size_t>(length));
    }
    va_end(again);
  }
  // One message is one line, whether or not the caller ended it.
  if (!text.empty() && text.back() == '\n') text.pop_back();

  // Modules may already prefix their messages with their own name; a second
  // prefix would only repeat it.
  std::string prefix = std::string(or_empty(module)) + ": ";
  std::string line = text.compare(0, prefix.size(), prefix) == 0 ? text : prefix + text;
  std::fprintf(stderr, "%s\n", line.c_str());
  keep(state().m_debug_lines, std::move(line));
  return true;
}

namespace zema_host {

std::vector<INTERNAL_ERROR> const& internal_errors() { return state().m_internal_errors; }
void clear_internal_errors() { state().m_internal_errors.clear(); }
void set_internal_error_echo(bool on) { state().m_echo_internal_errors = on; }

void set_debug_output(bool on) { state().m_debug_output = on ? 1 : 0; }
std::vector<std::string> const& debug_lines() { return state().m_debug_lines; }
void clear_debug_lines() { state().m_debug_lines.clear(); }

void set_call_log(bool on) { state().m_call_log_on = on; }
std::vector<HOST_CALL> const& call_log() { return state().m_calls; }
void clear_call_log() { state().m_calls.clear(); }

std::size_t dropped_records() { return state().m_dropped; }

namespace internal {

bool call_log_on() { return state().m_call_log_on; }

void log_call(char const* function, char const* text, int type, bool flag1, bool flag2) {
  keep(state().m_calls,
       zema_host::HOST_CALL{or_empty(function), or_empty(text), type, flag1, flag2});
}

}  // namespace internal
}  // namespace zema_host
