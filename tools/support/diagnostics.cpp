#include "tools/support/diagnostics.h"

#include <string>

#include "tools/support/tool_error.h"

namespace zema_tool {

void DIAGNOSTICS::error(TOOL_ERROR const& error) { line("error: ", error.text()); }

void DIAGNOSTICS::report(std::string_view command, std::string_view text) {
  std::string kind(command);
  kind += ": ";
  line(kind, text);
}

// Line ends inside the text would start a line that is not the command's:
// they become spaces. The line goes out in one write, so that lines of two
// threads never interleave.
void DIAGNOSTICS::line(std::string_view kind, std::string_view text) {
  std::string out = "zema: ";
  out.append(kind);
  std::size_t const start = out.size();
  out.append(text);
  for (std::size_t i = start; i < out.size(); ++i) {
    if (out[i] == '\n' || out[i] == '\r') out[i] = ' ';
  }
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), m_stream);
  std::fflush(m_stream);
}

}  // namespace zema_tool
