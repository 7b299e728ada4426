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

#include <cstdio>
#include <string_view>

namespace zema_tool {

class TOOL_ERROR;

class DIAGNOSTICS {
 public:
  explicit DIAGNOSTICS(std::FILE* stream) : m_stream(stream) {}

  void error(TOOL_ERROR const& error);
  void error(std::string_view text) { line("error: ", text); }
  void internal_error(std::string_view text) { line("internal error: ", text); }
  void warning(std::string_view text) { line("warning: ", text); }
  // A line of `command`'s own: "zema: COMMAND: TEXT".
  void report(std::string_view command, std::string_view text);

 private:
  void line(std::string_view kind, std::string_view text);

  std::FILE* m_stream;
};

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_DIAGNOSTICS_H
