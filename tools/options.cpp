#include "tools/options.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include <CLI/CLI.hpp>

#include "tools/output/text_format.h"
#include "tools/tool_error.h"

#ifndef ZEMA_VERSION
#error "ZEMA_VERSION must be defined by the build"
#endif

namespace zema_tool {
namespace {

// What CLI11 fills in before the arguments are sorted out.
// Words that name a value are checked against their list as they are
// parsed, and turned into their types once parsing is done.
struct PARSED {
  std::vector<std::string> m_arguments;  // the design, then lookup's names
  std::string m_format = "tsv";
  std::string m_strategy = "fusion";
  std::string m_input_format = "auto";
  std::string m_to = "original";
  std::string m_separator = "/";
  std::string m_unknown = "ignore";
};

// The options of every command that reads a design.
void add_read_options(CLI::App* command, OPTIONS* options) {
  command->add_option("--top", options->m_read.m_top,
                      "Yosys netlists: the top module (else the one marked top, else the only "
                      "module that no cell instantiates)");
  command
      ->add_option("--max-input-size", options->m_read.m_max_input_size,
                   "Refuse an input larger than this many bytes once decompressed (suffixes "
                   "K, M, G: powers of 1024)")
      ->transform(CLI::AsSizeValue(false))
      ->default_str("2G");
  command
      ->add_option("--max-instances", options->m_read.m_max_instances,
                   "Refuse a design with more instance names than this, or as many atoms or "
                   "oterms; a netlist's hierarchy is counted before it is expanded")
      ->capture_default_str();
  command
      ->add_option("--max-name-bytes", options->m_read.m_max_name_bytes,
                   "Netlists: refuse a hierarchy whose full names take more bytes than this, "
                   "counted before it is expanded (suffixes K, M, G: powers of 1024)")
      ->transform(CLI::AsSizeValue(false))
      ->default_str("4G");
  // One file a --liberty, so that a design's other arguments stay its own.
  command
      ->add_option("--liberty", options->m_read.m_liberty,
                   "Netlists: a Liberty file whose cells give cell types their pins and atom "
                   "types (repeatable)")
      ->allow_extra_args(false);
  command
      ->add_option_function<std::string>(
          "--unknown-cells",
          [options](std::string const& value) {
            options->m_read.m_unknown_cells =
                value == "atom" ? UNKNOWN_CELLS::ATOM : UNKNOWN_CELLS::ERROR;
          },
          "Netlists: cells of types with no known pins are an error, or COMB atoms without "
          "oterms (atom)")
      ->check(CLI::IsMember({"error", "atom"}))
      ->default_str("error");
  command->add_flag("--stats", options->m_stats,
                    "Print the wall time, CPU time and peak memory of each phase on standard "
                    "error");
}

// A design argument, --example, the input format and the read options.
void add_design_options(CLI::App* command, OPTIONS* options, PARSED* parsed, char const* name,
                        char const* what) {
  command->add_option(name, parsed->m_arguments, what);
  command->add_flag("--example", options->m_example,
                    "Read the bundled example design instead of a file");
  command
      ->add_option("--input-format", parsed->m_input_format,
                   "Input format: a design file (zema), a Yosys JSON netlist (yosys), a "
                   "structural Verilog netlist (verilog), or found from the content (auto)")
      ->check(CLI::IsMember({"auto", "zema", "yosys", "verilog"}))
      ->capture_default_str();
  add_read_options(command, options);
}

void add_output_options(CLI::App* command, PARSED* parsed) {
  command->add_option("--strategy", parsed->m_strategy, "Conversion strategy")
      ->check(CLI::IsMember({"fusion", "reversible"}))
      ->capture_default_str();
  command->add_option("--format", parsed->m_format, "Output format")
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

// Sorts the positional arguments into the design and lookup's names; gives
// the usage error when they do not fit the command.
std::optional<std::string> sort_arguments(std::string const& name, PARSED& parsed,
                                          OPTIONS* options) {
  std::vector<std::string>& arguments = parsed.m_arguments;
  std::size_t const designs = options->m_example ? 0 : 1;
  if (arguments.size() < designs) {
    return name + ": a design is required: give a file, - for standard input, or --example";
  }
  bool const lookup = options->m_command == COMMAND::LOOKUP;
  bool const many =
      lookup || options->m_command == COMMAND::TRANSLATE || options->m_command == COMMAND::EXPLAIN;
  if (!many && arguments.size() > designs) {
    return name + ": " +
           (options->m_example ? "--example takes no design file"
                               : "one design only, got " + decimal(arguments.size()));
  }
  if (designs != 0) options->m_design = arguments[0];
  options->m_names.assign(arguments.begin() + static_cast<long>(designs), arguments.end());
  if (lookup && options->m_names.empty() && options->m_names_file.empty()) {
    return std::string("lookup: no names: give them as arguments or with --names FILE");
  }
  if (lookup && options->m_names_file == "-" && !options->m_example && options->m_design == "-") {
    return std::string("lookup: the design and the names cannot both come from standard input");
  }
  if (options->m_command == COMMAND::EXPLAIN && options->m_names.empty()) {
    return std::string("explain: no names: give converted full names or original paths");
  }
  if (options->m_command == COMMAND::TRANSLATE && !options->m_example && options->m_design == "-" &&
      (options->m_names.empty() || std::find(options->m_names.begin(), options->m_names.end(),
                                             "-") != options->m_names.end())) {
    return std::string("translate: the design and the text cannot both come from standard input");
  }
  return std::nullopt;
}

// The subcommands, in the order of COMMAND.
struct SUBCOMMANDS {
  CLI::App* m_apps[7];
};

SUBCOMMANDS add_subcommands(CLI::App& app, OPTIONS* options, PARSED* parsed) {
  char const* const design_help = "Design file or Yosys netlist, - for standard input";
  CLI::App* const convert = app.add_subcommand(
      "convert", "Print the converted unit and full name of every atom and oterm");
  add_design_options(convert, options, parsed, "DESIGN", design_help);
  add_output_options(convert, parsed);
  convert->add_flag("--backslash", options->m_backslash, "Full names with their leading backslash");

  CLI::App* const lookup = app.add_subcommand(
      "lookup",
      "Print the instance-name id and the original name that each converted full name names");
  add_design_options(lookup, options, parsed, "DESIGN NAME",
                     "The design, then converted full names (put -- before any that start "
                     "with -); with --example, every argument is a name");
  lookup->add_option("--names", options->m_names_file,
                     "Read the names from a file, one a line; - for standard input");
  add_output_options(lookup, parsed);

  CLI::App* const map = app.add_subcommand(
      "map", "Print every converted name beside the design's original name (the name map)");
  add_design_options(map, options, parsed, "DESIGN", design_help);
  add_output_options(map, parsed);

  CLI::App* const check = app.add_subcommand(
      "check", "Check that every converted name is legal, unique and found again by lookup");
  add_design_options(check, options, parsed, "DESIGN", design_help);
  add_output_options(check, parsed);
  check
      ->add_option("--max-violations", options->m_max_violations,
                   "Violations shown on standard error in text output")
      ->capture_default_str();

  CLI::App* const import = app.add_subcommand(
      "import-yosys", "Write a Yosys JSON netlist as a design file, for editing");
  import->add_option("NETLIST", parsed->m_arguments, "Yosys netlist, - for standard input");
  import
      ->add_option("-o,--output", options->m_output, "Design file to write, - for standard output")
      ->capture_default_str();
  add_read_options(import, options);

  CLI::App* const translate = app.add_subcommand(
      "translate",
      "Rewrite the names in a text (a report, constraints) between converted and "
      "original names");
  add_design_options(translate, options, parsed, "DESIGN FILE",
                     "The design, then the texts to translate (standard input when none); with "
                     "--example, every argument is a text");
  translate->add_option("--to", parsed->m_to, "The names to write")
      ->check(CLI::IsMember({"original", "converted"}))
      ->capture_default_str();
  translate
      ->add_option("--separator", parsed->m_separator,
                   "The text's separator between the levels of converted names")
      ->check(CLI::IsMember({"/", ".", "|"}))
      ->capture_default_str();
  translate
      ->add_option("--unknown", parsed->m_unknown,
                   "Name-like words that name nothing: leave them (ignore), report them on "
                   "standard error (warn), or report them and exit 1 (error)")
      ->check(CLI::IsMember({"ignore", "warn", "error"}))
      ->capture_default_str();
  translate->add_option("--strategy", parsed->m_strategy, "Conversion strategy")
      ->check(CLI::IsMember({"fusion", "reversible"}))
      ->capture_default_str();
  translate->add_option("-o,--output", options->m_output, "File to write, - for standard output")
      ->capture_default_str();

  CLI::App* const explain = app.add_subcommand(
      "explain", "Explain level by level how converted names came to be (fusion)");
  add_design_options(explain, options, parsed, "DESIGN NAME",
                     "The design, then converted full names or original paths (put -- before "
                     "any that start with -); with --example, every argument is a name");
  explain->add_option("--format", parsed->m_format, "Output format")
      ->check(CLI::IsMember({"tsv", "json"}))
      ->capture_default_str();
  return SUBCOMMANDS{{convert, lookup, map, check, import, translate, explain}};
}

}  // namespace

std::optional<int> parse_command_line(int argc, char const* const* argv, OPTIONS* options) {
  PARSED parsed;
  CLI::App app("Converts the names of a design's atoms and oterms with the ZEMA library.", "zema");
  app.set_version_flag("--version", "zema " ZEMA_VERSION);
  app.require_subcommand(1);
  app.footer(
      "DESIGN is a design file or a Yosys write_json netlist, plain, .xz or .gz; - reads "
      "standard input.\n"
      "Exit codes: 0 success, 1 check found violations, or lookup, explain or translate --unknown "
      "error a name that names nothing, 2 "
      "bad input or usage, 3 internal error.");
  SUBCOMMANDS const commands = add_subcommands(app, options, &parsed);
  // Everything after "--" is a positional argument (a name that starts with
  // "-"). CLI11 does not take them once a subcommand has had a positional,
  // so they are set apart here and added after parsing.
  int const before_dashes =
      static_cast<int>(std::find(argv, argv + argc, std::string_view("--")) - argv);
  try {
    app.parse(before_dashes, argv);
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
  for (std::size_t c = 0; c < 7; ++c) {
    if (commands.m_apps[c] == chosen) options->m_command = static_cast<COMMAND>(c);
  }
  if (before_dashes < argc) {
    parsed.m_arguments.insert(parsed.m_arguments.end(), argv + before_dashes + 1, argv + argc);
  }
  options->m_json = parsed.m_format == "json";
  options->m_strategy = parsed.m_strategy == "reversible" ? ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE
                                                          : ZEMA_NAME_CONVERTER_FUSION;
  options->m_read.m_format = parsed.m_input_format == "yosys"     ? INPUT_FORMAT::YOSYS
                             : parsed.m_input_format == "zema"    ? INPUT_FORMAT::ZEMA
                             : parsed.m_input_format == "verilog" ? INPUT_FORMAT::VERILOG
                                                                  : INPUT_FORMAT::AUTO;
  options->m_to_original = parsed.m_to == "original";
  options->m_separator = parsed.m_separator[0];
  options->m_unknown = parsed.m_unknown == "warn"    ? UNKNOWN_NAMES::WARN
                       : parsed.m_unknown == "error" ? UNKNOWN_NAMES::ERROR
                                                     : UNKNOWN_NAMES::IGNORE;
  // import-yosys reads netlists only, Yosys JSON or Verilog.
  if (options->m_command == COMMAND::IMPORT) options->m_read.m_format = INPUT_FORMAT::NETLIST;
  if (auto const problem = sort_arguments(chosen->get_name(), parsed, options)) {
    return usage_error(*problem);
  }
  return std::nullopt;
}

}  // namespace zema_tool
