// The zema command-line tool: reads a design (a design file or a Yosys
// netlist) and converts, looks up, maps or checks the names of its atoms and
// oterms with the library; import-yosys writes a netlist as a design file.
//
// Exit codes: 0 success, 1 `check` found a violation or `lookup` a name that
// names nothing, 2 bad input, usage or I/O error (one "zema: error: PLACE:
// PROBLEM" line on stderr, nothing on stdout), 3 an internal error or
// exhausted memory.
//
// Nothing here or in the library recurses with the depth of a design, so
// the command runs on the main thread's ordinary stack.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "host/zema_host.h"
#include "tools/commands/commands.h"
#include "tools/exit_policy.h"
#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/options.h"
#include "tools/output/design_writer.h"
#include "tools/output/output_buffer.h"
#include "tools/output/text_format.h"
#include "tools/phases.h"
#include "tools/tool_error.h"

#ifndef ZEMA_BUNDLED_DESIGN
#error "ZEMA_BUNDLED_DESIGN must be defined by the build"
#endif

namespace {

using namespace zema_tool;

// What the library's tree takes per name, atom and oterm of a design, a
// little under what generated and real designs measure (120 to 130 bytes),
// so that the memory populated ahead of it is used.
constexpr std::size_t kTreeBytesPerObject = 110;

// The example design installed beside the tool (../share/zema/design.json
// from the executable), else the one in the source tree the tool was built
// from.
std::string bundled_design_path() {
  char buffer[PATH_MAX];
  ssize_t const length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length > 0) {
    std::string const executable(buffer, static_cast<std::size_t>(length));
    std::string installed =
        executable.substr(0, executable.rfind('/')) + "/../share/zema/design.json";
    if (access(installed.c_str(), R_OK) == 0) return installed;
  }
  return ZEMA_BUNDLED_DESIGN;
}

// The lines of a name file, one name each; an empty line or a line that is
// not UTF-8 is refused with its place. A final line end is optional, and a
// carriage return before a line end is dropped.
std::vector<std::string_view> split_names(INPUT_TEXT const& text) {
  std::vector<std::string_view> names;
  std::string_view rest = text.view();
  std::size_t line = 0;
  while (!rest.empty()) {
    ++line;
    std::size_t const end = rest.find('\n');
    std::string_view name = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!name.empty() && name.back() == '\r') name.remove_suffix(1);
    std::string const place = text.name() + ":" + decimal(line);
    if (name.empty()) throw TOOL_ERROR(place, "an empty line where a name was expected");
    if (!is_valid_utf8(name)) {
      throw TOOL_ERROR(place, "the name " + quoted_text(name) + " is not valid UTF-8");
    }
    if (name.find('\0') != std::string_view::npos) {
      throw TOOL_ERROR(place, "a name must not contain the character U+0000");
    }
    names.push_back(name);
  }
  return names;
}

// Lookup's names: from --names (read before the design is built, so that a
// bad name file fails fast), then the arguments. `text` keeps the file.
std::vector<std::string_view> lookup_names(OPTIONS const& options, INPUT_TEXT* text) {
  std::vector<std::string_view> names;
  if (!options.m_names_file.empty()) {
    *text = INPUT_TEXT::read(options.m_names_file, options.m_read.m_max_input_size, true);
    names = split_names(*text);
  }
  names.insert(names.end(), options.m_names.begin(), options.m_names.end());
  return names;
}

// Builds the design, converts it and runs the command on it.
int run_on_design(OPTIONS const& options, DESIGN_RECORDS&& records, PHASES& phases,
                  OUTPUT_BUFFER& out) {
  INPUT_TEXT names_text;
  std::vector<std::string_view> const names = options.m_command == COMMAND::LOOKUP
                                                  ? lookup_names(options, &names_text)
                                                  : std::vector<std::string_view>();
  // The library's tree takes some hundred bytes per name, atom and oterm;
  // once the records are gone, the host populates that memory on the other
  // core, ahead of the tree.
  std::size_t const objects =
      records.m_names.size() + records.m_atoms.size() + records.m_oterms.size();
  phases.start("build");
  KEPT_PTR<LOADED_DESIGN> design(build_design(std::move(records)).release());
  zema_host::mem_prefault(kTreeBytesPerObject * objects);
  COMMAND_OPTIONS command;
  command.m_strategy = options.m_strategy;
  command.m_json = options.m_json;
  command.m_backslash = options.m_backslash;
  command.m_max_violations = options.m_max_violations;
  command.m_to_original = options.m_to_original;
  command.m_separator = options.m_separator;
  command.m_unknown = options.m_unknown;
  switch (options.m_command) {
    case COMMAND::TRANSLATE:
      return run_translate(*design, command, options.m_names, phases, out, stderr);
    case COMMAND::EXPLAIN:
      return run_explain(
          *design, command,
          std::vector<std::string_view>(options.m_names.begin(), options.m_names.end()), phases,
          out, stderr);
    case COMMAND::LOOKUP:
      return run_lookup(*design, command, names, phases, out, stderr);
    case COMMAND::MAP:
      run_map(*design, command, phases, out);
      return EXIT_OK;
    case COMMAND::CHECK:
      return run_check(*design, command, phases, out, stderr);
    default:
      run_convert(*design, command, phases, out);
      return EXIT_OK;
  }
}

int run_command(OPTIONS const& options) {
  try {
    PHASES phases(options.m_stats, isatty(STDERR_FILENO) == 1);
    OUTPUT_BUFFER out(stdout);
    DESIGN_RECORDS records;
    phases.start("read");
    {
      std::string const path = options.m_example ? bundled_design_path() : options.m_design;
      // A netlist said to be Verilog may start with any text.
      INPUT_TEXT const text = INPUT_TEXT::read(path, options.m_read.m_max_input_size,
                                               options.m_read.m_format == INPUT_FORMAT::VERILOG);
      read_records(text, options.m_read, &records);
    }
    for (std::string const& warning : records.m_warnings) {
      std::fprintf(stderr, "zema: warning: %s\n", warning.c_str());
    }
    int code = EXIT_OK;
    if (options.m_command == COMMAND::IMPORT) {
      phases.start("write");
      write_design_file(records, out);
    } else {
      code = run_on_design(options, std::move(records), phases, out);
    }
    if (int const error = out.finish()) {
      throw TOOL_ERROR("<stdout>", std::string("cannot write: ") + std::strerror(error));
    }
    phases.finish(stderr);
    return code;
  } catch (TOOL_ERROR const& error) {
    std::fprintf(stderr, "zema: error: %s\n", error.text().c_str());
    return EXIT_BAD_INPUT;
  } catch (INTERNAL_FAILURE const& failure) {
    std::fprintf(stderr, "zema: internal error: %s\n", failure.m_message.c_str());
    return EXIT_INTERNAL;
  } catch (std::bad_alloc const&) {
    std::fprintf(stderr, "zema: error: out of memory\n");
    return EXIT_INTERNAL;
  } catch (std::exception const& exception) {
    std::fprintf(stderr, "zema: internal error: %s\n", exception.what());
    return EXIT_INTERNAL;
  }
}

// The input that -o names too, if any: opening the output for writing would
// empty it before it is read.
std::string const* input_written_over(OPTIONS const& options) {
  if (options.m_output == "-") return nullptr;
  struct stat output;
  if (::stat(options.m_output.c_str(), &output) != 0) return nullptr;
  auto const same = [&output](std::string const& path) {
    struct stat input;
    return path != "-" && ::stat(path.c_str(), &input) == 0 && input.st_dev == output.st_dev &&
           input.st_ino == output.st_ino;
  };
  if (!options.m_example && same(options.m_design)) return &options.m_design;
  if (options.m_command != COMMAND::TRANSLATE) return nullptr;
  for (std::string const& text : options.m_names) {
    if (same(text)) return &text;
  }
  return nullptr;
}

int run_main(int argc, char** argv) {
  // Reports of the library are turned into the tool's own messages.
  zema_host::set_internal_error_echo(false);
  OPTIONS options;
  if (std::optional<int> const done = parse_command_line(argc, argv, &options)) return *done;
  if (std::string const* const input = input_written_over(options)) {
    std::fprintf(
        stderr, "zema: error: %s: is also the output (-o); it would be emptied before it is read\n",
        input->c_str());
    return EXIT_BAD_INPUT;
  }
  if ((options.m_command == COMMAND::IMPORT || options.m_command == COMMAND::TRANSLATE) &&
      options.m_output != "-" && std::freopen(options.m_output.c_str(), "wb", stdout) == nullptr) {
    std::fprintf(stderr, "zema: error: %s: cannot open: %s\n", options.m_output.c_str(),
                 std::strerror(errno));
    return EXIT_BAD_INPUT;
  }
  int const code = run_command(options);
  if (!free_at_exit()) {
    // Past every destructor: what the command built dies with the process.
    std::fflush(nullptr);
    _exit(code);
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run_main(argc, argv);
  } catch (std::exception const& exception) {
    std::fprintf(stderr, "zema: internal error: %s\n", exception.what());
    return EXIT_INTERNAL;
  }
}
