// Errors of the zema tool and the exit codes they end it with.
//
// A TOOL_ERROR is a problem with what the user gave the tool (a design file,
// standard input, the output stream): it names the place and what is wrong,
// and ends the tool with exit code 2 after nothing was written to standard
// output. An INTERNAL_FAILURE is a broken invariant that the library reported
// although the tool had checked its input: a bug, exit code 3.
#ifndef TOOLS_SUPPORT_TOOL_ERROR_H
#define TOOLS_SUPPORT_TOOL_ERROR_H

#include <string>
#include <string_view>
#include <utility>

#include "tools/support/text_format.h"

namespace zema_tool {

enum EXIT_CODE {
  EXIT_OK = 0,
  EXIT_CHECK_FAILED = 1,  // `check` found a violation
  EXIT_NOT_FOUND = 1,     // `lookup` found a name that names nothing
  EXIT_BAD_INPUT = 2,     // bad input, usage or I/O error
  EXIT_INTERNAL = 3       // a broken invariant inside the tool or the library
};

class TOOL_ERROR {
 public:
  TOOL_ERROR(std::string place, std::string message)
      : m_place(std::move(place)), m_message(std::move(message)) {}

  // "PLACE: MESSAGE", or the message alone when there is no place; at most
  // kMaxMessageBytes, whatever the input put into either.
  std::string text() const {
    return shortened_message(m_place.empty() ? m_message : m_place + ": " + m_message);
  }

  std::string m_place;
  std::string m_message;
};

class INTERNAL_FAILURE {
 public:
  explicit INTERNAL_FAILURE(std::string message) : m_message(std::move(message)) {}
  std::string m_message;
};

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_TOOL_ERROR_H
