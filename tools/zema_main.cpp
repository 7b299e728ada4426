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
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/zema_host.h"
#include "tools/commands.h"
#include "tools/design_builder.h"
#include "tools/design_reader.h"
#include "tools/design_writer.h"
#include "tools/exit_policy.h"
#include "tools/input_file.h"
#include "tools/output_buffer.h"
#include "tools/phases.h"
#include "tools/text_format.h"
#include "tools/tool_error.h"

#ifndef ZEMA_VERSION
#error "ZEMA_VERSION must be defined by the build"
#endif
#ifndef ZEMA_BUNDLED_DESIGN
#error "ZEMA_BUNDLED_DESIGN must be defined by the build"
#endif

namespace {

using namespace zema_tool;

// What the library's tree takes per name, atom and oterm of a design, a
// little under what generated and real designs measure (120 to 130 bytes),
// so that the memory populated ahead of it is used.
constexpr std::size_t kTreeBytesPerObject = 110;

enum COMMAND { COMMAND_CONVERT, COMMAND_LOOKUP, COMMAND_MAP, COMMAND_CHECK, COMMAND_IMPORT };

struct OPTIONS {
  COMMAND m_command = COMMAND_CONVERT;
  std::vector<std::string> m_arguments;  // the design, then lookup's names
  bool m_example = false;
  std::string m_strategy = "fusion";
  std::string m_format = "tsv";
  std::string m_input_format = "auto";
  std::string m_top;
  std::string m_names_file;
  std::string m_output = "-";
  std::uint64_t m_max_input_size = kDefaultMaxInput;
  std::uint64_t m_max_instances = kDefaultMaxInstances;
  std::size_t m_max_violations = 10;
  bool m_backslash = false;
  bool m_stats = false;
};

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

READ_OPTIONS read_options(OPTIONS const& options) {
  READ_OPTIONS read;
  read.m_format = options.m_input_format == "yosys"  ? INPUT_FORMAT::YOSYS
                  : options.m_input_format == "zema" ? INPUT_FORMAT::ZEMA
                                                     : INPUT_FORMAT::AUTO;
  // import-yosys reads Yosys netlists only.
  if (options.m_command == COMMAND_IMPORT) read.m_format = INPUT_FORMAT::YOSYS;
  read.m_max_input_size = options.m_max_input_size;
  read.m_max_instances = options.m_max_instances;
  read.m_top = options.m_top;
  return read;
}

int run_command(OPTIONS const& options) {
  try {
    std::string const path = options.m_example ? bundled_design_path() : options.m_arguments[0];
    PHASES phases(options.m_stats, isatty(STDERR_FILENO) == 1);
    OUTPUT_BUFFER out(stdout);
    int code = EXIT_OK;
    READ_OPTIONS const read = read_options(options);
    DESIGN_RECORDS records;
    phases.start("read");
    {
      INPUT_TEXT const text = INPUT_TEXT::read(path, read.m_max_input_size);
      read_records(text, read, &records);
    }
    if (options.m_command == COMMAND_IMPORT) {
      phases.start("write");
      write_design_file(records, out);
    } else {
      // Lookup's names are read before the design is built, so that a bad
      // name file fails fast.
      INPUT_TEXT names_text;
      std::vector<std::string_view> names;
      if (options.m_command == COMMAND_LOOKUP) {
        if (!options.m_names_file.empty()) {
          names_text = INPUT_TEXT::read(options.m_names_file, read.m_max_input_size, true);
          names = split_names(names_text);
        }
        for (std::size_t i = options.m_example ? 0 : 1; i < options.m_arguments.size(); ++i) {
          names.emplace_back(options.m_arguments[i]);
        }
      }
      // The library's tree takes some hundred bytes per name, atom and oterm;
      // once the records are gone, the host populates that memory on the
      // other core, ahead of the tree.
      std::size_t const objects =
          records.m_names.size() + records.m_atoms.size() + records.m_oterms.size();
      phases.start("build");
      KEPT_PTR<LOADED_DESIGN> design(build_design(std::move(records)).release());
      zema_host::mem_prefault(kTreeBytesPerObject * objects);
      COMMAND_OPTIONS command;
      command.m_strategy = options.m_strategy == "reversible"
                               ? ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE
                               : ZEMA_NAME_CONVERTER_FUSION;
      command.m_json = options.m_format == "json";
      command.m_backslash = options.m_backslash;
      command.m_max_violations = options.m_max_violations;
      switch (options.m_command) {
        case COMMAND_CONVERT:
          run_convert(*design, command, phases, out);
          break;
        case COMMAND_LOOKUP:
          code = run_lookup(*design, command, names, phases, out, stderr);
          break;
        case COMMAND_MAP:
          run_map(*design, command, phases, out);
          break;
        case COMMAND_CHECK:
          code = run_check(*design, command, phases, out, stderr);
          break;
        case COMMAND_IMPORT:
          break;
      }
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

// --- Command line ---------------------------------------------------------------

// The options of every command that reads a design.
void add_read_options(CLI::App* command, OPTIONS* options) {
  command->add_option("--top", options->m_top,
                      "Yosys netlists: the top module (else the one marked top, else the only "
                      "module that no cell instantiates)");
  command
      ->add_option("--max-input-size", options->m_max_input_size,
                   "Refuse an input larger than this many bytes once decompressed (suffixes "
                   "K, M, G: powers of 1024)")
      ->transform(CLI::AsSizeValue(false))
      ->default_str("2G");
  command
      ->add_option("--max-instances", options->m_max_instances,
                   "Refuse a design with more instance names than this, or as many atoms or "
                   "oterms; a Yosys hierarchy is counted before it is expanded")
      ->capture_default_str();
  command->add_flag("--stats", options->m_stats,
                    "Print the wall time, CPU time and peak memory of each phase on standard "
                    "error");
}

void add_input_options(CLI::App* command, OPTIONS* options) {
  command
      ->add_option("--input-format", options->m_input_format,
                   "Input format: a design file (zema), a Yosys JSON netlist (yosys), or found "
                   "from the content (auto)")
      ->check(CLI::IsMember({"auto", "zema", "yosys"}))
      ->capture_default_str();
  add_read_options(command, options);
}

void add_design_options(CLI::App* command, OPTIONS* options, char const* what) {
  command->add_option("DESIGN", options->m_arguments, what);
  command->add_flag("--example", options->m_example,
                    "Read the bundled example design instead of a file");
  add_input_options(command, options);
}

void add_strategy_option(CLI::App* command, OPTIONS* options) {
  command->add_option("--strategy", options->m_strategy, "Conversion strategy")
      ->check(CLI::IsMember({"fusion", "reversible"}))
      ->capture_default_str();
}

void add_format_option(CLI::App* command, OPTIONS* options) {
  command->add_option("--format", options->m_format, "Output format")
      ->check(CLI::IsMember({"tsv", "json"}))
      ->capture_default_str();
}

// A usage error as the documented one line, with nothing on standard output.
int usage_error(std::string message) {
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!message.empty() && message.back() == ' ') message.pop_back();
  std::fprintf(stderr, "zema: error: command line: %s\n", message.c_str());
  return EXIT_BAD_INPUT;
}

int run_main(int argc, char** argv) {
  // Reports of the library are turned into the tool's own messages.
  zema_host::set_internal_error_echo(false);

  OPTIONS options;
  CLI::App app("Converts the names of a design's atoms and oterms with the ZEMA library.", "zema");
  app.set_version_flag("--version", "zema " ZEMA_VERSION);
  app.require_subcommand(1);
  app.footer(
      "DESIGN is a design file or a Yosys write_json netlist, plain, .xz or .gz; - reads "
      "standard input.\n"
      "Exit codes: 0 success, 1 check found violations or lookup a name that names nothing, 2 "
      "bad input or usage, 3 internal error.");

  char const* const design_help = "Design file or Yosys netlist, - for standard input";
  CLI::App* const convert = app.add_subcommand(
      "convert", "Print the converted unit and full name of every atom and oterm");
  add_design_options(convert, &options, design_help);
  add_strategy_option(convert, &options);
  add_format_option(convert, &options);
  convert->add_flag("--backslash", options.m_backslash, "Full names with their leading backslash");

  CLI::App* const lookup = app.add_subcommand(
      "lookup",
      "Print the instance-name id and the original name that each converted full name names");
  lookup->add_option("DESIGN NAME", options.m_arguments,
                     "The design, then converted full names (put -- before any that start "
                     "with -)");
  lookup->add_flag("--example", options.m_example,
                   "Read the bundled example design; every argument is a name");
  add_input_options(lookup, &options);
  lookup->add_option("--names", options.m_names_file,
                     "Read the names from a file, one a line; - for standard input");
  add_strategy_option(lookup, &options);
  add_format_option(lookup, &options);

  CLI::App* const map = app.add_subcommand(
      "map", "Print every converted name beside the design's original name (the name map)");
  add_design_options(map, &options, design_help);
  add_strategy_option(map, &options);
  add_format_option(map, &options);

  CLI::App* const check = app.add_subcommand(
      "check", "Check that every converted name is legal, unique and found again by lookup");
  add_design_options(check, &options, design_help);
  add_strategy_option(check, &options);
  add_format_option(check, &options);
  check
      ->add_option("--max-violations", options.m_max_violations,
                   "Violations shown on standard error in text output")
      ->capture_default_str();

  CLI::App* const import = app.add_subcommand(
      "import-yosys", "Write a Yosys JSON netlist as a design file, for editing");
  import->add_option("NETLIST", options.m_arguments, "Yosys netlist, - for standard input");
  import->add_option("-o,--output", options.m_output, "Design file to write, - for standard output")
      ->capture_default_str();
  add_read_options(import, &options);

  try {
    app.parse(argc, argv);
  } catch (CLI::CallForHelp const& help) {
    return app.exit(help);
  } catch (CLI::CallForAllHelp const& help) {
    return app.exit(help);
  } catch (CLI::CallForVersion const& version) {
    return app.exit(version);
  } catch (CLI::ParseError const& error) {
    return usage_error(error.what());
  }

  CLI::App const* const chosen = app.get_subcommands().front();
  if (chosen == lookup) options.m_command = COMMAND_LOOKUP;
  if (chosen == map) options.m_command = COMMAND_MAP;
  if (chosen == check) options.m_command = COMMAND_CHECK;
  if (chosen == import) options.m_command = COMMAND_IMPORT;
  std::string const name = chosen->get_name();
  std::size_t const designs = options.m_example ? 0 : 1;
  if (options.m_arguments.size() < designs) {
    return usage_error(name +
                       ": a design is required: give a file, - for standard input, or "
                       "--example");
  }
  if (options.m_command != COMMAND_LOOKUP && options.m_arguments.size() > designs) {
    return usage_error(name + ": " +
                       (options.m_example
                            ? "--example takes no design file"
                            : "one design only, got " + decimal(options.m_arguments.size())));
  }
  if (options.m_command == COMMAND_LOOKUP && options.m_arguments.size() == designs &&
      options.m_names_file.empty()) {
    return usage_error("lookup: no names: give them as arguments or with --names FILE");
  }
  if (options.m_command == COMMAND_LOOKUP && options.m_names_file == "-" && !options.m_example &&
      options.m_arguments[0] == "-") {
    return usage_error("lookup: the design and the names cannot both come from standard input");
  }
  if (options.m_command == COMMAND_IMPORT && options.m_output != "-" &&
      std::freopen(options.m_output.c_str(), "wb", stdout) == nullptr) {
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
