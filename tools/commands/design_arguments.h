// DESIGN_ARGUMENTS: what every command that reads a design declares (the
// design as a path, "-" or --example, its format, the reading limits) and,
// once the command line is parsed, the design loaded through the engine.
#ifndef TOOLS_COMMANDS_DESIGN_ARGUMENTS_H
#define TOOLS_COMMANDS_DESIGN_ARGUMENTS_H

#include <optional>
#include <string>
#include <vector>

#include "tools/commands/command.h"
#include "tools/input/read_options.h"
#include "tools/names/conversion.h"
#include "tools/names/design_names.h"
#include "tools/names/design_source.h"
#include "tools/names/differ.h"

namespace zema_tool {

class DESIGN_ARGUMENTS {
 public:
  // Declares the design's options on `options`, the positional arguments
  // into `positionals` under `name` and `help` (the design first).
  void declare(OPTION_SET& options, std::vector<std::string>* positionals, char const* name,
               char const* help);
  // --map FILE: a saved name map in place of the design, for the commands
  // that need only names (translate, lookup, explain).
  void declare_map(OPTION_SET& options);
  // Takes the design from the front of `positionals` (unless --example or
  // --map) and
  // leaves the rest there; gives the usage problem when there is no design,
  // or more arguments than a command that takes `more` false allows.
  std::optional<std::string> take_design(char const* command, std::vector<std::string>* positionals,
                                         bool more);

  // The design's path: the file, "-", the bundled example's, or the map's.
  std::string path() const;
  // Whether the names come from a saved map.
  bool saved() const { return !m_map.empty(); }
  // The names of the design: read from the saved map (--map), or read,
  // built and converted with `strategy`.
  std::unique_ptr<DESIGN_NAMES> load_names(RUN& run, ZEMA_NAME_CONVERTER_ENUM strategy) const;

  // Reads and builds the design (the "read" and "build" phases) and says
  // what its reader warns of.
  KEPT_PTR<LOADED_DESIGN> load(RUN& run) const;

  READ_OPTIONS m_read;
  bool m_example = false;

 private:
  std::string m_design;
  std::string m_map;
};

// The reading limits, --top, and a netlist's --liberty and --unknown-cells,
// which every command that reads a design or a netlist takes.
void declare_read_options(OPTION_SET& options, READ_OPTIONS* read);

// The names of one revision at `path`: a saved map (TSV or JSON, told by
// its first bytes) or a design or netlist, read, built and converted with
// `strategy`.
std::unique_ptr<DESIGN_NAMES> load_revision(std::string const& path, READ_OPTIONS const& read,
                                            ZEMA_NAME_CONVERTER_ENUM strategy, RUN& run);

// The names of one revision, as load_revision gives them, with what its
// reader warns of added to `warnings` rather than printed.
std::unique_ptr<DESIGN_NAMES> load_revision(std::string const& path, READ_OPTIONS const& read,
                                            ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases,
                                            std::vector<std::string>* warnings);

// Gives the revision at `old_path` to differ->take_old, then the one at
// `new_path` to differ->take_new. Once OLD's file is read, NEW is loaded in
// a child process (commands/revision_child.h) while this one converts OLD.
// Where OLD is a saved map (no conversion to overlap with), no child can be
// made, or ZEMA_ONE_PROCESS is set to a value other than "0" in the
// environment, NEW is loaded here once OLD is taken and freed.
void take_revisions(std::string const& old_path, std::string const& new_path,
                    READ_OPTIONS const& read, ZEMA_NAME_CONVERTER_ENUM strategy, RUN& run,
                    REVISION_DIFFER* differ);

// What a command that compares two revisions (diff, migrate) declares for
// them: --input-format of a revision that is not a map, the reading limits
// and --strategy.
void declare_revision_options(OPTION_SET& options, READ_OPTIONS* read,
                              ZEMA_NAME_CONVERTER_ENUM* strategy);

// --strategy: the converter's strategy, by its word.
void declare_strategy(OPTION_SET& options, ZEMA_NAME_CONVERTER_ENUM* strategy);

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_DESIGN_ARGUMENTS_H
