// The zema command-line tool: reads a design file and converts, looks up,
// maps or checks the names of its atoms and oterms with the library.
//
// Exit codes: 0 success, 1 `check` found a violation, 2 bad input, usage or
// I/O error (one "zema: error: " line on stderr, nothing on stdout), 3 an
// internal error or exhausted memory.
//
// The command runs on a thread with a large stack: the library recurses once
// per hierarchy level while it builds its tree and writes full names, and a
// design may be ten thousand levels deep.
#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/zema_host.h"
#include "tools/commands.h"
#include "tools/design_builder.h"
#include "tools/design_reader.h"
#include "tools/exit_policy.h"
#include "tools/input_file.h"
#include "tools/output_buffer.h"
#include "tools/tool_error.h"

#ifndef ZEMA_VERSION
#error "ZEMA_VERSION must be defined by the build"
#endif
#ifndef ZEMA_BUNDLED_DESIGN
#error "ZEMA_BUNDLED_DESIGN must be defined by the build"
#endif

namespace {

using namespace zema_tool;

constexpr std::size_t kWorkerStackBytes = std::size_t(512) << 20;

enum COMMAND { COMMAND_CONVERT, COMMAND_LOOKUP, COMMAND_MAP, COMMAND_CHECK };

struct OPTIONS {
  COMMAND m_command = COMMAND_CONVERT;
  std::string m_design;
  bool m_design_given = false;
  std::string m_strategy = "fusion";
  std::string m_format = "tsv";
  bool m_backslash = false;
  bool m_stats = false;
  std::vector<std::string> m_names;
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

int run_command(OPTIONS const& options) {
  try {
    std::string const path = options.m_design_given ? options.m_design : bundled_design_path();
    PHASES phases(options.m_stats, isatty(STDERR_FILENO) == 1);
    KEPT_PTR<LOADED_DESIGN> design;
    {
      READ_OPTIONS read;
      DESIGN_RECORDS records;
      phases.start("read");
      {
        INPUT_TEXT const text = INPUT_TEXT::read(path, read.m_max_input_size);
        read_records(text, read, &records);
      }
      phases.start("build");
      design.reset(build_design(std::move(records)).release());
    }
    ZEMA_NAME_CONVERTER_ENUM const strategy = options.m_strategy == "reversible"
                                                  ? ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE
                                                  : ZEMA_NAME_CONVERTER_FUSION;
    OUTPUT_BUFFER out(stdout);
    int code = EXIT_OK;
    switch (options.m_command) {
      case COMMAND_CONVERT: {
        CONVERT_OPTIONS convert;
        convert.m_strategy = strategy;
        convert.m_backslash = options.m_backslash;
        convert.m_json = options.m_format == "json";
        run_convert(*design, convert, phases, out);
        break;
      }
      case COMMAND_LOOKUP:
        run_lookup(*design, strategy, options.m_names, phases, out);
        break;
      case COMMAND_MAP:
        run_map(*design, phases, out);
        break;
      case COMMAND_CHECK:
        code = run_check(*design, strategy, phases, out, stderr);
        break;
    }
    if (int const error = out.finish()) {
      throw TOOL_ERROR("<stdout>", std::string("cannot write: ") + std::strerror(error));
    }
    design.reset();
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

struct WORK {
  OPTIONS const* m_options;
  int m_code;
};

void* run_work(void* argument) {
  WORK* const work = static_cast<WORK*>(argument);
  work->m_code = run_command(*work->m_options);
  return nullptr;
}

// Runs the command on a thread with a large stack, or on this thread if no
// such thread can be made.
int run_with_large_stack(OPTIONS const& options) {
  WORK work{&options, EXIT_INTERNAL};
  pthread_attr_t attributes;
  pthread_t thread;
  bool started = false;
  if (pthread_attr_init(&attributes) == 0) {
    started = pthread_attr_setstacksize(&attributes, kWorkerStackBytes) == 0 &&
              pthread_create(&thread, &attributes, run_work, &work) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!started) return run_command(options);
  pthread_join(thread, nullptr);
  return work.m_code;
}

void add_design_option(CLI::App* command, OPTIONS* options, bool required) {
  CLI::Option* const option = command->add_option(
      "DESIGN", options->m_design,
      required ? "Design file (JSON), - for standard input"
               : "Design file (JSON), - for standard input; the bundled example when omitted");
  if (required) option->required();
}

void add_stats_option(CLI::App* command, OPTIONS* options) {
  command->add_flag("--stats", options->m_stats,
                    "Print the time and peak memory of each phase on standard error");
}

void add_strategy_option(CLI::App* command, OPTIONS* options) {
  command->add_option("--strategy", options->m_strategy, "Conversion strategy")
      ->check(CLI::IsMember({"fusion", "reversible"}))
      ->capture_default_str();
}

int run_main(int argc, char** argv) {
  // Reports of the library are turned into the tool's own messages.
  zema_host::set_internal_error_echo(false);

  OPTIONS options;
  CLI::App app("Converts the names of a design's atoms and oterms with the ZEMA library.", "zema");
  app.set_version_flag("--version", "zema " ZEMA_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 success, 1 check found violations, 2 bad input or usage, 3 internal error.");

  CLI::App* const convert = app.add_subcommand(
      "convert", "Print the converted unit and full name of every atom and oterm");
  add_stats_option(convert, &options);
  add_design_option(convert, &options, false);
  add_strategy_option(convert, &options);
  convert->add_flag("--backslash", options.m_backslash, "Full names with their leading backslash");
  convert->add_option("--format", options.m_format, "Output format")
      ->check(CLI::IsMember({"tsv", "json"}))
      ->capture_default_str();

  CLI::App* const lookup = app.add_subcommand(
      "lookup", "Print the instance-name id that each converted full name names");
  add_stats_option(lookup, &options);
  add_design_option(lookup, &options, true);
  lookup
      ->add_option("NAME", options.m_names,
                   "Converted full names (put -- before any that start with -)")
      ->required();
  add_strategy_option(lookup, &options);

  CLI::App* const map =
      app.add_subcommand("map", "Print the fusion converter's tree of converted names");
  add_stats_option(map, &options);
  add_design_option(map, &options, false);

  CLI::App* const check = app.add_subcommand(
      "check", "Check that every converted name is legal, unique and found again by lookup");
  add_stats_option(check, &options);
  add_design_option(check, &options, false);
  add_strategy_option(check, &options);

  try {
    app.parse(argc, argv);
  } catch (CLI::ParseError const& error) {
    return app.exit(error) == 0 ? EXIT_OK : EXIT_BAD_INPUT;
  }

  CLI::App const* const chosen = app.get_subcommands().front();
  if (chosen == lookup) options.m_command = COMMAND_LOOKUP;
  if (chosen == map) options.m_command = COMMAND_MAP;
  if (chosen == check) options.m_command = COMMAND_CHECK;
  options.m_design_given = chosen->count("DESIGN") > 0;
  int const code = run_with_large_stack(options);
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
