// The zema command: hands the command line to the subcommand it names
// (tools/commands/command.h); the subcommands register themselves.
//
// Exit codes are those of EXIT_CODE (tools/support/tool_error.h). Nothing
// here or in the library recurses with the depth of a design, so the
// command runs on the main thread's ordinary stack.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>

#include "host/zema_host.h"
#include "tools/commands/command.h"
#include "tools/support/tool_error.h"

// A standard descriptor that the caller closed is taken by /dev/null,
// opened the other way round: every use of it fails as on a closed one
// (EBADF), and no file that the command opens takes its number, where text
// written to a temporary output would go to standard output, or standard
// input would read the temporary.
void hold_closed_standard_descriptors() {
  for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: those below it are open.
    open("/dev/null", descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
  }
}

int main(int argc, char** argv) {
  hold_closed_standard_descriptors();
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
