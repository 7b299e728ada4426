// The zema command: hands the command line to the subcommand it names
// (tools/commands/command.h); the subcommands register themselves.
//
// Exit codes are those of EXIT_CODE (tools/support/tool_error.h). Nothing
// here or in the library recurses with the depth of a design, so the
// command runs on the main thread's ordinary stack.
#include <csignal>
#include <cstdio>
#include <exception>

#include "host/zema_host.h"
#include "tools/commands/command.h"
#include "tools/support/tool_error.h"

int main(int argc, char** argv) {
  // A write past the file size limit (ulimit -f) then fails with EFBIG and
  // ends the run with its error line, the temporary output removed, rather
  // than killing the process with the temporary left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    // Every subcommand touches its memory once and exits.
    zema_host::mem_small_pages();
    return zema_tool::run_zema(argc, argv);
  } catch (std::exception const& exception) {
    std::fprintf(stderr, "zema: internal error: %s\n", exception.what());
    return zema_tool::EXIT_INTERNAL;
  }
}
