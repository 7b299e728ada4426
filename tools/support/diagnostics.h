// DIAGNOSTICS: the one place where the command writes its lines on standard
// error. Every line starts with "zema: " and is one line, whatever the input
// put into it:
//
//   zema: error: PLACE: PROBLEM     bad input, usage or I/O (exit code 2)
//   zema: internal error: PROBLEM   a broken invariant or no memory (exit 3)
//   zema: warning: PROBLEM          a run that goes on, with something to know
//   zema: COMMAND: REPORT           what a command found (check's violations,
//                                   lookup's names that name nothing)
#ifndef TOOLS_SUPPORT_DIAGNOSTICS_H
#define TOOLS_SUPPORT_DIAGNOSTICS_H

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace zema_tool {

class TOOL_ERROR;

class DIAGNOSTICS {
 public:
  explicit DIAGNOSTICS(std::FILE* stream) : m_stream(stream) {}

  void error(TOOL_ERROR const& error);
  void error(std::string_view text) { line("error: ", text, true); }
  void internal_error(std::string_view text) { line("internal error: ", text, true); }
  void warning(std::string_view text) { line("warning: ", text); }
  // A line of `command`'s own: "zema: COMMAND: TEXT".
  void report(std::string_view command, std::string_view text);

  // From now on warnings and reports are kept back until release(), and an
  // error drops them: a run that fails says its one error line and nothing
  // else. Past kHeldBytes of them, the kept lines and later ones go out as
  // they come.
  void hold() { m_holding = true; }
  // Writes the lines kept back, and lets later ones out as they come.
  void release();

  static constexpr std::size_t kHeldBytes = std::size_t{8} << 20;

 private:
  void line(std::string_view kind, std::string_view text, bool final = false);
  void write(std::string const& text);

  std::FILE* m_stream;
  std::mutex m_lock;  // lines may come from two threads
  bool m_holding = false;
  std::string m_held;
};

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_DIAGNOSTICS_H
