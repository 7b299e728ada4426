#include "tools/support/diagnostics.h"

#include <string>

#include "tools/support/tool_error.h"

namespace zema_tool {

void DIAGNOSTICS::error(TOOL_ERROR const& error) { line("error: ", error.text(), true); }

void DIAGNOSTICS::report(std::string_view command, std::string_view text) {
  std::string kind(command);
  kind += ": ";
  line(kind, text);
}

void DIAGNOSTICS::release() {
  std::lock_guard<std::mutex> const lock(m_lock);
  m_holding = false;
  if (!m_held.empty()) write(m_held);
  m_held.clear();
}

void DIAGNOSTICS::write(std::string const& text) {
  std::fwrite(text.data(), 1, text.size(), m_stream);
  std::fflush(m_stream);
}

// Line ends inside the text would start a line that is not the command's:
// they become spaces. The line goes out in one write, so that lines of two
// threads never interleave. A `final` line (an error) drops the lines held
// back.
void DIAGNOSTICS::line(std::string_view kind, std::string_view text, bool final) {
  std::string out = "zema: ";
  out.append(kind);
  std::size_t const start = out.size();
  out.append(text);
  for (std::size_t i = start; i < out.size(); ++i) {
    if (out[i] == '\n' || out[i] == '\r') out[i] = ' ';
  }
  out.push_back('\n');
  std::lock_guard<std::mutex> const lock(m_lock);
  if (final) {
    m_holding = false;
    m_held.clear();
  } else if (m_holding) {
    if (m_held.size() + out.size() <= kHeldBytes) {
      m_held += out;
      return;
    }
    m_holding = false;
    write(m_held);
    m_held.clear();
  }
  write(out);
}

}  // namespace zema_tool
