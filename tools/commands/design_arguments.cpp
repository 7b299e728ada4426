#include "tools/commands/design_arguments.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "tools/commands/revision_child.h"
#include "tools/input/read_design.h"
#include "tools/input/saved_map.h"
#include "tools/support/text_format.h"

#ifndef ZEMA_BUNDLED_DESIGN
#error "ZEMA_BUNDLED_DESIGN must be defined by the build"
#endif

namespace zema_tool {
namespace {

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

// A map has a row per name, atom and oterm of its design.
std::uint64_t map_rows(READ_OPTIONS const& read) {
  return read.m_max_instances > UINT64_MAX / 3 ? UINT64_MAX : 3 * read.m_max_instances;
}

}  // namespace

void DESIGN_ARGUMENTS::declare(OPTION_SET& options, std::vector<std::string>* positionals,
                               char const* name, char const* help) {
  options.positionals(name, positionals, help);
  options.flag("--example", &m_example, "Read the bundled example design instead of a file");
  options.choice("--input-format", &m_read.m_format, kInputFormatWords,
                 "Input format: a design file (zema), a Yosys JSON netlist (yosys), a structural "
                 "Verilog netlist (verilog), or found from the content (auto)");
  declare_read_options(options, &m_read);
}

void DESIGN_ARGUMENTS::declare_map(OPTION_SET& options) {
  options.text("--map", &m_map,
               "A name map that `zema map` wrote (TSV or JSON, plain, .gz or .xz) in place of the "
               "design: every argument is then a name or a text");
  // A map holds names already converted: how a design is read and converted
  // does not apply to it.
  options.excludes("--map",
                   {"--input-format", "--top", "--liberty", "--unknown-cells", "--strategy"});
}

KEPT_PTR<LOADED_DESIGN> DESIGN_ARGUMENTS::load(RUN& run) const {
  KEPT_PTR<LOADED_DESIGN> design = load_design(path(), m_read, run.m_phases);
  for (std::string const& warning : design->m_warnings) run.m_diagnostics.warning(warning);
  return design;
}

std::unique_ptr<DESIGN_NAMES> DESIGN_ARGUMENTS::load_names(
    RUN& run, ZEMA_NAME_CONVERTER_ENUM strategy) const {
  PHASES& phases = run.m_phases;
  if (!saved()) return std::make_unique<DESIGN_NAMES>(load(run), strategy, phases);
  phases.start("read");
  return std::make_unique<DESIGN_NAMES>(
      std::make_unique<SAVED_NAMES>(m_map, m_read.m_max_input_size, map_rows(m_read)));
}

namespace {

// The names of a revision whose file has been read: a saved map's, or a
// design's or netlist's, built and converted with `strategy`; what its
// reader warns of goes to `warnings`.
std::unique_ptr<DESIGN_NAMES> names_of(INPUT_TEXT text, READ_OPTIONS const& read,
                                       ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases,
                                       std::vector<std::string>* warnings) {
  if (is_saved_map(text)) {
    return std::make_unique<DESIGN_NAMES>(
        std::make_unique<SAVED_NAMES>(std::move(text), map_rows(read)));
  }
  DESIGN_RECORDS records;
  read_records(text, read, &records);
  choose_pages(records);
  text = INPUT_TEXT();  // not needed past the records
  KEPT_PTR<LOADED_DESIGN> design = build_loaded(std::move(records), phases);
  warnings->insert(warnings->end(), design->m_warnings.begin(), design->m_warnings.end());
  return std::make_unique<DESIGN_NAMES>(std::move(design), strategy, phases);
}

std::unique_ptr<DESIGN_NAMES> names_of(INPUT_TEXT text, READ_OPTIONS const& read,
                                       ZEMA_NAME_CONVERTER_ENUM strategy, RUN& run) {
  std::vector<std::string> warnings;
  std::unique_ptr<DESIGN_NAMES> names =
      names_of(std::move(text), read, strategy, run.m_phases, &warnings);
  for (std::string const& warning : warnings) run.m_diagnostics.warning(warning);
  return names;
}

}  // namespace

std::unique_ptr<DESIGN_NAMES> load_revision(std::string const& path, READ_OPTIONS const& read,
                                            ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases,
                                            std::vector<std::string>* warnings) {
  phases.start("read");
  return names_of(INPUT_TEXT::read(path, read.m_max_input_size, true), read, strategy, phases,
                  warnings);
}

std::unique_ptr<DESIGN_NAMES> load_revision(std::string const& path, READ_OPTIONS const& read,
                                            ZEMA_NAME_CONVERTER_ENUM strategy, RUN& run) {
  run.m_phases.start("read");
  return names_of(INPUT_TEXT::read(path, read.m_max_input_size, true), read, strategy, run);
}

void take_revisions(std::string const& old_path, std::string const& new_path,
                    READ_OPTIONS const& read, ZEMA_NAME_CONVERTER_ENUM strategy, RUN& run,
                    REVISION_DIFFER* differ) {
  run.m_phases.start("read");
  INPUT_TEXT old_text = INPUT_TEXT::read(old_path, read.m_max_input_size, true);
  // A saved map's names take no conversion: then there is nothing for the
  // new revision's conversion to overlap with.
  char const* const one_process = std::getenv("ZEMA_ONE_PROCESS");
  bool const alone =
      is_saved_map(old_text) || (one_process != nullptr && std::strcmp(one_process, "0") != 0);
  std::unique_ptr<REVISION_CHILD> const child =
      alone ? nullptr : REVISION_CHILD::start(new_path, read, strategy);
  std::unique_ptr<DESIGN_NAMES> old_names = names_of(std::move(old_text), read, strategy, run);
  run.m_phases.start("old rows");
  differ->take_old(*old_names);
  if (child) {
    run.m_phases.start("new revision");
    child->finish(run.m_diagnostics);
    run.m_phases.start("new rows");
    differ->take_new(child->rows());
    return;
  }
  // One revision after the other, the new one in the old one's memory.
  DESIGN_NAMES::free_now(std::move(old_names));
  std::unique_ptr<DESIGN_NAMES> const new_names = load_revision(new_path, read, strategy, run);
  run.m_phases.start("new rows");
  differ->take_new(*new_names);
}

std::optional<std::string> DESIGN_ARGUMENTS::take_design(char const* command,
                                                         std::vector<std::string>* positionals,
                                                         bool more) {
  std::string const name(command);
  if (saved() && m_example) return name + ": --map and --example cannot both be given";
  if (!m_example && !saved()) {
    if (positionals->empty()) {
      return name + ": a design is required: give a file, - for standard input, or --example";
    }
    m_design = positionals->front();
    positionals->erase(positionals->begin());
  }
  if (!more && !positionals->empty()) {
    return name + ": " +
           (m_example ? std::string("--example takes no design file")
                      : "one design only, got " + decimal(positionals->size() + 1));
  }
  return std::nullopt;
}

std::string DESIGN_ARGUMENTS::path() const {
  if (saved()) return m_map;
  return m_example ? bundled_design_path() : m_design;
}

void declare_revision_options(OPTION_SET& options, READ_OPTIONS* read,
                              ZEMA_NAME_CONVERTER_ENUM* strategy) {
  options.choice("--input-format", &read->m_format, kInputFormatWords,
                 "Input format of a revision that is not a map");
  declare_read_options(options, read);
  declare_strategy(options, strategy);
}

void declare_read_options(OPTION_SET& options, READ_OPTIONS* read) {
  options.text("--top", &read->m_top,
               "Netlists: the top module (else the one marked top, else the only module that no "
               "cell instantiates)");
  options.size("--max-input-size", &read->m_max_input_size, kLargestInput,
               "Refuse an input larger than this many bytes once decompressed (suffixes K, M, G: "
               "powers of 1024; \"unlimited\": the largest input, 4 GiB)");
  options.size("--max-name-bytes", &read->m_max_name_bytes, UINT64_MAX,
               "Refuse a design whose full names take more bytes than this together (suffixes "
               "K, M, G); a netlist's are counted before it is expanded");
  options.count("--max-instances", &read->m_max_instances,
                "Refuse a design with more instance names than this, or as many atoms or oterms; "
                "a netlist's hierarchy is counted before it is expanded");
  options.input_files(
      "--liberty", &read->m_liberty,
      "Netlists: a Liberty file whose cells give cell types their pins and atom types "
      "(one file each time; repeatable)");
  options.choice("--unknown-cells", &read->m_unknown_cells, kUnknownCellsWords,
                 "Netlists: a cell of a type with no known pins is an error, or a COMB atom "
                 "without oterms (atom)");
}

void declare_strategy(OPTION_SET& options, ZEMA_NAME_CONVERTER_ENUM* strategy) {
  options.choice("--strategy", strategy, kStrategyWords, "Conversion strategy");
}

}  // namespace zema_tool
