// OUTPUT_FILE: where a command's output goes: standard output, or the file
// that -o names.
//
// A regular file, or one that does not exist yet, is written to a temporary
// file in the same directory, which replaces it by a rename only when the
// command succeeds (commit). So a run that fails, is killed by SIGINT,
// SIGTERM, SIGHUP or SIGQUIT, or runs out of disk leaves the target as it
// was and no temporary behind; and of two runs that write one file, each
// leaves it complete and the last one wins. Anything else that -o names (a
// device such as /dev/null, a pipe, a terminal) is written directly. A path
// through symbolic links writes the file they lead to; the links stay.
//
// Standard output, when `held`, is written to an unnamed temporary file
// that commit() copies to it: a command that writes while it still reads
// (translate, migrate) then writes nothing there when a later input fails.
// /dev/null takes the output directly, and so does standard output when
// the temporary directory has no room for that file.
//
// Whether the output is also one of the command's inputs is for the caller
// to refuse first (same_file_as), since a rename would replace that input.
#ifndef TOOLS_OUTPUT_OUTPUT_FILE_H
#define TOOLS_OUTPUT_OUTPUT_FILE_H

#include <cstdio>
#include <string>
#include <vector>

namespace zema_tool {

class OUTPUT_FILE {
 public:
  // Opens the output: "-" is standard output, held until commit() when
  // `held`. Throws TOOL_ERROR "PATH: cannot open: ..." when the temporary
  // file (or a device) cannot be opened.
  explicit OUTPUT_FILE(std::string const& path, bool held = false);
  // Removes the temporary file unless commit() succeeded.
  ~OUTPUT_FILE();
  OUTPUT_FILE(OUTPUT_FILE const&) = delete;
  OUTPUT_FILE& operator=(OUTPUT_FILE const&) = delete;

  std::FILE* stream() const { return m_stream; }
  // The output's name for messages: the path, or "<stdout>".
  std::string const& name() const { return m_name; }

  // Flushes and closes the output, and renames the temporary file over the
  // target. Throws TOOL_ERROR "PATH: cannot write: ..." on any failure; the
  // temporary is removed then.
  void commit();

 private:
  void discard();
  int copy_held();

  std::string m_name;
  std::string m_target;     // the file the rename replaces: m_name through its links
  std::string m_temporary;  // empty when writing directly
  std::FILE* m_stream = nullptr;
  bool m_held = false;  // m_stream is an unnamed file for standard output
  bool m_committed = false;
};

// The first of `inputs` ("-" for standard input) that is the same file
// (device and inode) as `output`, or null; never one when `output` is "-",
// does not exist yet or is not a regular file.
std::string const* same_file_as(std::string const& output, std::vector<std::string> const& inputs);

}  // namespace zema_tool

#endif  // TOOLS_OUTPUT_OUTPUT_FILE_H
