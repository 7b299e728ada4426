// REVISION_CHILD: one revision of a design loaded, converted and walked in a
// child process, while this process does the same with the other revision.
//
// diff and migrate convert two revisions. The library and the host keep
// state that no two threads of one process may use at once, but two
// processes each have their own: forked before either revision is read, the
// child converts its revision on the second core and sends back what the
// comparison needs of its name map, its reader's warnings and its error, if
// any. A thread of this process reads them as they come, so the child never
// waits for this one.
#ifndef TOOLS_COMMANDS_REVISION_CHILD_H
#define TOOLS_COMMANDS_REVISION_CHILD_H

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "tools/input/read_options.h"
#include "tools/names/differ.h"
#include "tools/support/diagnostics.h"

namespace zema_tool {

class REVISION_CHILD {
 public:
  // Forks the child that loads the revision at `path`; null when no child
  // or pipe could be made (the caller then loads it itself).
  static std::unique_ptr<REVISION_CHILD> start(std::string const& path, READ_OPTIONS const& read,
                                               ZEMA_NAME_CONVERTER_ENUM strategy);
  // Kills a child still at work, and waits for it and the reading thread.
  ~REVISION_CHILD();
  REVISION_CHILD(REVISION_CHILD const&) = delete;
  REVISION_CHILD& operator=(REVISION_CHILD const&) = delete;

  // Waits for the child's end and gives its warnings to `diagnostics`;
  // throws what the child threw, as it would have been thrown here.
  void finish(DIAGNOSTICS& diagnostics);
  // The rows of the revision's map, once finished.
  MAP_ROWS rows() const;

 private:
  class RECEIVED;
  REVISION_CHILD(pid_t pid, int from_child);
  void receive();
  void end_child(bool kill_it);

  pid_t m_pid;
  int m_from_child;
  int m_status = 0;  // the child's, once it has ended
  bool m_ended = false;
  struct CHUNK {
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size;
  };
  std::vector<CHUNK> m_chunks;  // what the child sent, in order
  int m_read_error = 0;
  std::thread m_receiver;
};

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_REVISION_CHILD_H
