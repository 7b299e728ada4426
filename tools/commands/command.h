// The subcommands of zema, each one file that defines a COMMAND: its name
// and help, the options it declares, the files it reads and writes, and its
// run function. A command registers itself with one REGISTERED_COMMAND at
// the end of its file, so adding a command is adding its file (and the file
// to the build). zema_main.cpp only hands the command line to run_zema().
//
// Every command runs the same way: its options are parsed once into its own
// typed fields; an output that is also one of its inputs is refused before
// anything is opened for writing; its rows go through one OUTPUT_BUFFER to
// standard output or the file -o names (output_file.h); every line on
// standard error goes through one DIAGNOSTICS; and any TOOL_ERROR ends it
// with exactly one "zema: error: PLACE: PROBLEM" line, exit code 2 and no
// file of the user's touched.
#ifndef TOOLS_COMMANDS_COMMAND_H
#define TOOLS_COMMANDS_COMMAND_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/support/diagnostics.h"
#include "tools/support/output_buffer.h"
#include "tools/support/phases.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"
#include "tools/support/words.h"

namespace CLI {
class App;
}

namespace zema_tool {

// What a running command writes to.
struct RUN {
  PHASES& m_phases;
  OUTPUT_BUFFER& m_out;
  DIAGNOSTICS& m_diagnostics;
};

// The options of one command, declared on its part of the command line. Every
// value is checked as it is parsed: a word outside its table, a number that
// is not plain decimal (or "unlimited" where that is allowed), a size with an
// unknown unit, or one past its largest value is a usage error.
class OPTION_SET {
 public:
  // Options that name files to read add their lists to *input_lists.
  OPTION_SET(CLI::App& app, std::vector<std::vector<std::string> const*>* input_lists)
      : m_app(app), m_input_lists(input_lists) {}

  void flag(char const* names, bool* value, char const* help);
  void text(char const* names, std::string* value, char const* help, bool show_default = false);
  // An option that may be given several times, each value kept in order.
  void texts(char const* names, std::vector<std::string>* values, char const* help);
  // As texts(), for files the command reads: an output that is one of them
  // is refused as one that is a positional input is.
  void input_files(char const* names, std::vector<std::string>* values, char const* help);
  // A word of `table`, turned into its value.
  template <class VALUE, std::size_t N>
  void choice(char const* names, VALUE* value, WORD<VALUE> const (&table)[N], char const* help) {
    choice_of(names, words_of(table), word_of(table, *value), help,
              [value, &table](std::string const& word) { *value = *value_of(table, word); });
  }
  // A count: plain decimal digits, or "unlimited" (the largest count).
  void count(char const* names, std::uint64_t* value, char const* help);
  // A size in bytes: decimal digits with an optional K, M or G (powers of
  // 1024), at most `largest`, or "unlimited" (`largest` itself).
  void size(char const* names, std::uint64_t* value, std::uint64_t largest, char const* help);
  // The positional arguments, in order.
  void positionals(char const* name, std::vector<std::string>* values, char const* help);
  // Refuses `option` given with any of `others` that the command declares,
  // before or after this call.
  void excludes(char const* option, std::vector<char const*> others);
  // Once the command has declared its options: applies the exclusions.
  void finish();

 private:
  void choice_of(char const* names, std::vector<std::string> words, std::string const& shown,
                 char const* help, std::function<void(std::string const&)> const& set);

  CLI::App& m_app;
  std::vector<std::vector<std::string> const*>* m_input_lists;
  std::vector<std::pair<char const*, std::vector<char const*>>> m_exclusions;
};

class COMMAND {
 public:
  // `name` and `help` are string literals.
  COMMAND(char const* name, char const* help) : m_name(name), m_help(help) {}
  virtual ~COMMAND() = default;
  COMMAND(COMMAND const&) = delete;
  COMMAND& operator=(COMMAND const&) = delete;

  char const* name() const { return m_name; }
  char const* help() const { return m_help; }

  // Declares the command's options and positional arguments.
  virtual void declare(OPTION_SET& options) = 0;
  // Once the command line is parsed: the usage problem of the arguments
  // ("convert: a design is required: ..."), or nothing.
  virtual std::optional<std::string> check_arguments() { return std::nullopt; }
  // Every file the command reads besides those of input_files() options,
  // "-" for standard input.
  virtual std::vector<std::string> inputs() const = 0;
  // inputs() and the files of its input_files() options.
  std::vector<std::string> all_inputs() const;
  // Where OPTION_SET puts the lists of its input_files() options.
  std::vector<std::vector<std::string> const*>* input_lists() { return &m_input_lists; }
  // Runs the command; gives its exit code. Throws TOOL_ERROR for bad input.
  virtual int run(RUN& run) = 0;
  // Whether the command writes while it still reads (texts streamed
  // through it): its standard output is then held until it succeeds.
  virtual bool writes_while_reading() const { return false; }
  // Whether a run that gave `code` failed, so that its output is not
  // written (-o stays as it was). For most commands exit code 1 is a result
  // worth writing (check's violations, diff's reused names).
  virtual bool failed(int code) const { return code != EXIT_OK && code != EXIT_NOT_FOUND; }

  // Where the arguments after "--" go: names that start with "-".
  std::vector<std::string>& positionals() { return m_positionals; }
  // The file -o names, "-" for standard output.
  std::string const& output() const { return m_output; }
  bool stats() const { return m_stats; }

  // A new object of every registered command, in the order of their names.
  static std::vector<std::unique_ptr<COMMAND>> make_all();

 protected:
  // -o FILE, for commands that write a file.
  void declare_output(OPTION_SET& options, char const* help);
  // --stats, for commands that read a design.
  void declare_stats(OPTION_SET& options);

  std::vector<std::string> m_positionals;
  std::string m_output = "-";
  bool m_stats = false;

 private:
  char const* m_name;
  char const* m_help;
  std::vector<std::vector<std::string> const*> m_input_lists;
};

// Registers COMMAND_TYPE, a COMMAND with a default constructor: one static
// object of this per command file.
class COMMAND_REGISTRY {
 public:
  typedef std::unique_ptr<COMMAND> (*MAKE)();
  static void add(MAKE make);
};
template <class COMMAND_TYPE>
struct REGISTERED_COMMAND {
  REGISTERED_COMMAND() {
    COMMAND_REGISTRY::add(
        []() -> std::unique_ptr<COMMAND> { return std::make_unique<COMMAND_TYPE>(); });
  }
};

// Parses the command line and runs the chosen command; gives the exit code.
// --help and --version print their text; a usage error prints its one line
// "zema: error: command line: ...".
int run_zema(int argc, char const* const* argv);

// Parses the command line only: the command to run into *chosen, or the exit
// code when none is to run (for tests).
std::optional<int> parse_zema(int argc, char const* const* argv, std::unique_ptr<COMMAND>* chosen);

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_COMMAND_H
