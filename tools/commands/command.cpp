#include "tools/commands/command.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <new>
#include <string_view>

#include <CLI/CLI.hpp>

#include "host/zema_host.h"
#include "tools/output/output_file.h"
#include "tools/support/exit_policy.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

#ifndef ZEMA_VERSION
#error "ZEMA_VERSION must be defined by the build"
#endif

namespace zema_tool {
namespace {

std::vector<COMMAND_REGISTRY::MAKE>& registry() {
  static std::vector<COMMAND_REGISTRY::MAKE> makers;
  return makers;
}

// Plain decimal digits, the whole text; false on anything else or overflow.
bool parse_decimal(std::string const& text, std::uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t result = 0;
  for (char const c : text) {
    if (c < '0' || c > '9') return false;
    std::uint64_t const digit = static_cast<std::uint64_t>(c - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

// The CLI11 check of a count: the text must be plain decimal or "unlimited";
// it is left in the form CLI11 then converts.
std::string check_count(std::string& text) {
  std::uint64_t value;
  if (text == "unlimited") {
    text = std::to_string(UINT64_MAX);
    return std::string();
  }
  if (parse_decimal(text, &value)) return std::string();
  return quoted_text(text) + " is not a count (decimal digits, or \"unlimited\")";
}

// The CLI11 check of a size: digits with an optional K, M or G, at most
// `largest`; turned into plain decimal bytes.
std::string check_size(std::string& text, std::uint64_t largest) {
  if (text == "unlimited") {
    text = std::to_string(largest);
    return std::string();
  }
  std::string digits = text;
  std::uint64_t unit = 1;
  if (!digits.empty()) {
    char const last = digits.back();
    unit = last == 'K' || last == 'k'   ? std::uint64_t{1} << 10
           : last == 'M' || last == 'm' ? std::uint64_t{1} << 20
           : last == 'G' || last == 'g' ? std::uint64_t{1} << 30
                                        : 1;
    if (unit != 1) digits.pop_back();
  }
  std::uint64_t value;
  if (!parse_decimal(digits, &value)) {
    return quoted_text(text) + " is not a size (decimal digits with K, M or G, or \"unlimited\")";
  }
  if (value > largest / unit) {
    return quoted_text(text) + " is more than the largest size, " + decimal(largest) + " bytes";
  }
  text = std::to_string(value * unit);
  return std::string();
}

// A usage error as the documented one line, with nothing on standard output.
int usage_error(DIAGNOSTICS& diagnostics, std::string const& message) {
  std::string text = message;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  diagnostics.error(TOOL_ERROR("command line", text));
  return EXIT_BAD_INPUT;
}

// The exit code of `print` (help or the version, written to standard
// output), or the error line when the writing failed (a full disk).
template <class PRINT>
int printed(DIAGNOSTICS& diagnostics, PRINT const& print) {
  errno = 0;
  int const code = print();
  std::cout.flush();
  int error = errno;
  if (std::fflush(stdout) != 0 && error == 0) error = errno;
  if (std::cout.good() && !std::ferror(stdout)) return code;
  diagnostics.error(TOOL_ERROR(
      "<stdout>", std::string("cannot write: ") + std::strerror(error != 0 ? error : EIO)));
  return EXIT_BAD_INPUT;
}

// Runs the parsed command with its output open; gives its exit code.
int run_parsed(COMMAND& command, DIAGNOSTICS& diagnostics) {
  try {
    std::vector<std::string> const inputs = command.all_inputs();
    if (std::string const* const input = same_file_as(command.output(), inputs)) {
      throw TOOL_ERROR(*input == "-" ? std::string("<stdin>") : *input,
                       "is also the output (-o); it would be emptied before it is read");
    }
    diagnostics.hold();
    PHASES phases(command.stats(), isatty(STDERR_FILENO) == 1);
    OUTPUT_FILE output(command.output(), command.writes_while_reading());
    OUTPUT_BUFFER out(output.stream());
    RUN run{phases, out, diagnostics};
    int const code = command.run(run);
    if (int const error = out.finish()) {
      throw TOOL_ERROR(output.name(), std::string("cannot write: ") + std::strerror(error));
    }
    if (!command.failed(code)) output.commit();
    diagnostics.release();
    phases.finish(stderr);
    return code;
  } catch (TOOL_ERROR const& error) {
    diagnostics.error(error);
    return EXIT_BAD_INPUT;
  } catch (INTERNAL_FAILURE const& failure) {
    diagnostics.internal_error(failure.m_message);
    return EXIT_INTERNAL;
  } catch (std::bad_alloc const&) {
    diagnostics.error("out of memory");
    return EXIT_INTERNAL;
  } catch (std::exception const& exception) {
    diagnostics.internal_error(exception.what());
    return EXIT_INTERNAL;
  }
}

}  // namespace

// --- Options -------------------------------------------------------------------

void OPTION_SET::flag(char const* names, bool* value, char const* help) {
  m_app.add_flag(names, *value, help);
}

void OPTION_SET::text(char const* names, std::string* value, char const* help, bool show_default) {
  CLI::Option* const option = m_app.add_option(names, *value, help);
  if (show_default) option->capture_default_str();
}

void OPTION_SET::texts(char const* names, std::vector<std::string>* values, char const* help) {
  // One value each time, so that the arguments after it stay the command's.
  m_app.add_option(names, *values, help)->take_all()->allow_extra_args(false);
}

void OPTION_SET::input_files(char const* names, std::vector<std::string>* values,
                             char const* help) {
  texts(names, values, help);
  m_input_lists->push_back(values);
}

void OPTION_SET::choice_of(char const* names, std::vector<std::string> words,
                           std::string const& shown, char const* help,
                           std::function<void(std::string const&)> const& set) {
  m_app.add_option_function<std::string>(names, set, help)
      ->check(CLI::IsMember(std::move(words)))
      ->default_str(shown);
}

void OPTION_SET::count(char const* names, std::uint64_t* value, char const* help) {
  m_app.add_option(names, *value, help)
      ->transform(CLI::Validator(check_count, "COUNT"))
      ->default_str(*value == UINT64_MAX ? "unlimited" : decimal(*value));
}

void OPTION_SET::size(char const* names, std::uint64_t* value, std::uint64_t largest,
                      char const* help) {
  std::string shown = decimal(*value);
  if (*value != 0 && *value % (std::uint64_t{1} << 30) == 0) {
    shown = decimal(*value >> 30) + "G";
  } else if (*value != 0 && *value % (std::uint64_t{1} << 20) == 0) {
    shown = decimal(*value >> 20) + "M";
  }
  m_app.add_option(names, *value, help)
      ->transform(CLI::Validator([largest](std::string& text) { return check_size(text, largest); },
                                 "SIZE"))
      ->default_str(shown);
}

void OPTION_SET::positionals(char const* name, std::vector<std::string>* values, char const* help) {
  m_app.add_option(name, *values, help);
}

void OPTION_SET::excludes(char const* option, std::vector<char const*> others) {
  m_exclusions.emplace_back(option, std::move(others));
}

void OPTION_SET::finish() {
  for (auto const& [name, others] : m_exclusions) {
    CLI::Option* const option = m_app.get_option(name);
    for (char const* const other : others) {
      if (CLI::Option* const excluded = m_app.get_option_no_throw(other)) {
        option->excludes(excluded);
      }
    }
  }
}

// --- Commands ------------------------------------------------------------------

void COMMAND_REGISTRY::add(MAKE make) { registry().push_back(make); }

std::vector<std::unique_ptr<COMMAND>> COMMAND::make_all() {
  std::vector<std::unique_ptr<COMMAND>> commands;
  for (COMMAND_REGISTRY::MAKE make : registry()) commands.push_back(make());
  std::sort(commands.begin(), commands.end(),
            [](auto const& a, auto const& b) { return std::strcmp(a->name(), b->name()) < 0; });
  return commands;
}

std::vector<std::string> COMMAND::all_inputs() const {
  std::vector<std::string> all = inputs();
  for (std::vector<std::string> const* list : m_input_lists) {
    all.insert(all.end(), list->begin(), list->end());
  }
  return all;
}

void COMMAND::declare_output(OPTION_SET& options, char const* help) {
  options.text("-o,--output", &m_output, help, true);
}

void COMMAND::declare_stats(OPTION_SET& options) {
  options.flag("--stats", &m_stats,
               "Print the wall time, CPU time and peak memory of each phase on standard error");
}

std::optional<int> parse_zema(int argc, char const* const* argv, std::unique_ptr<COMMAND>* chosen) {
  DIAGNOSTICS diagnostics(stderr);
  chosen->reset();
  CLI::App app("Converts the names of a design's atoms and oterms with the ZEMA library.", "zema");
  app.set_version_flag("--version", "zema " ZEMA_VERSION);
  app.require_subcommand(1);
  app.footer(
      "DESIGN is a design file, a Yosys write_json netlist or a structural Verilog netlist, "
      "plain, .xz or .gz; - reads standard input.\n"
      "Exit codes: 0 success, 1 check found violations, lookup, explain, translate or migrate "
      "--unknown error a word it reports, or diff an old name that no longer names its object "
      "or a match that is a guess, 2 bad input or usage, 3 internal error.");
  std::vector<std::unique_ptr<COMMAND>> commands = COMMAND::make_all();
  std::map<CLI::App const*, std::unique_ptr<COMMAND>*> apps;
  for (std::unique_ptr<COMMAND>& command : commands) {
    CLI::App* const sub = app.add_subcommand(command->name(), command->help());
    OPTION_SET options(*sub, command->input_lists());
    command->declare(options);
    options.finish();
    apps[sub] = &command;
  }
  // A first word that names no subcommand is a misspelt one, not a missing
  // one.
  if (argc > 1 && argv[1][0] != '-') {
    std::string known;
    bool found = false;
    for (std::unique_ptr<COMMAND> const& command : commands) {
      found = found || std::strcmp(command->name(), argv[1]) == 0;
      known += std::string(known.empty() ? "" : ", ") + command->name();
    }
    if (!found) {
      return usage_error(diagnostics, "no subcommand " + quoted_text(argv[1]) +
                                          " (the subcommands: " + known + ")");
    }
  }
  // Everything after "--" is a positional argument (a name that starts with
  // "-"). CLI11 does not take them once a subcommand has had a positional,
  // so they are set apart here and added after parsing.
  int const before_dashes =
      static_cast<int>(std::find(argv, argv + argc, std::string_view("--")) - argv);
  try {
    app.parse(before_dashes, argv);
  } catch (CLI::CallForHelp const& help) {
    return printed(diagnostics, [&] { return app.exit(help); });
  } catch (CLI::CallForAllHelp const& help) {
    return printed(diagnostics, [&] { return app.exit(help); });
  } catch (CLI::CallForVersion const& version) {
    return printed(diagnostics, [&] { return app.exit(version); });
  } catch (CLI::ParseError const& error) {
    return usage_error(diagnostics, error.what());
  }
  std::unique_ptr<COMMAND>& command = *apps.at(app.get_subcommands().front());
  if (before_dashes < argc) {
    command->positionals().insert(command->positionals().end(), argv + before_dashes + 1,
                                  argv + argc);
  }
  if (auto const problem = command->check_arguments()) return usage_error(diagnostics, *problem);
  std::vector<std::string> const inputs = command->all_inputs();
  if (std::count(inputs.begin(), inputs.end(), "-") > 1) {
    return usage_error(diagnostics, std::string(command->name()) +
                                        ": only one input can come from standard input (-)");
  }
  *chosen = std::move(command);
  return std::nullopt;
}

int run_zema(int argc, char const* const* argv) {
  // Reports of the library are turned into the tool's own messages.
  zema_host::set_internal_error_echo(false);
  std::unique_ptr<COMMAND> command;
  if (std::optional<int> const done = parse_zema(argc, argv, &command)) return *done;
  DIAGNOSTICS diagnostics(stderr);
  int const code = run_parsed(*command, diagnostics);
  if (!free_at_exit()) {
    // Past every destructor: what the command built dies with the process.
    std::fflush(nullptr);
    _exit(code);
  }
  return code;
}

}  // namespace zema_tool
