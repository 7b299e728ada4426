// The command line, parsed once into typed options: each command's
// arguments sorted out, enumerated values turned into their types, and each
// misuse refused with exit code 2 before anything runs.
#include "tools/options.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/tool_error.h"

namespace zema_tool {
namespace {

// Parses "zema ARGS..."; the exit code when the command is not to run.
std::optional<int> parse(std::vector<char const*> args, OPTIONS* options) {
  args.insert(args.begin(), "zema");
  return parse_command_line(static_cast<int>(args.size()), args.data(), options);
}

TEST(OptionsTest, ParsesEachOptionIntoItsType) {
  OPTIONS options;
  ASSERT_EQ(parse({"check", "d.json.xz", "--strategy", "reversible", "--format", "json",
                   "--input-format", "verilog", "--top", "cpu", "--max-input-size", "2K",
                   "--max-instances", "100", "--max-violations", "3", "--stats"},
                  &options),
            std::nullopt);
  EXPECT_EQ(options.m_command, COMMAND::CHECK);
  EXPECT_EQ(options.m_design, "d.json.xz");
  EXPECT_EQ(options.m_strategy, ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE);
  EXPECT_TRUE(options.m_json);
  EXPECT_EQ(options.m_read.m_format, INPUT_FORMAT::VERILOG);
  EXPECT_EQ(options.m_read.m_top, "cpu");
  EXPECT_EQ(options.m_read.m_max_input_size, 2048u);
  EXPECT_EQ(options.m_read.m_max_instances, 100u);
  EXPECT_EQ(options.m_max_violations, 3u);
  EXPECT_TRUE(options.m_stats);
}

TEST(OptionsTest, LookupTakesTheDesignThenItsNames) {
  OPTIONS options;
  ASSERT_EQ(parse({"lookup", "d.json", "a/b", "--format", "json", "--", "-odd", "--"}, &options),
            std::nullopt);
  EXPECT_EQ(options.m_design, "d.json");
  EXPECT_EQ(options.m_names, (std::vector<std::string>{"a/b", "-odd", "--"}));
  EXPECT_TRUE(options.m_json);
  OPTIONS example;
  ASSERT_EQ(parse({"lookup", "--example", "a/b"}, &example), std::nullopt);
  EXPECT_TRUE(example.m_example);
  EXPECT_EQ(example.m_names, (std::vector<std::string>{"a/b"}));
}

TEST(OptionsTest, ImportReadsNetlistsOnly) {
  OPTIONS options;
  ASSERT_EQ(parse({"import-yosys", "n.v", "-o", "d.json", "--liberty", "a.lib", "--liberty",
                   "b.lib", "--unknown-cells", "atom", "--max-name-bytes", "3M"},
                  &options),
            std::nullopt);
  EXPECT_EQ(options.m_command, COMMAND::IMPORT);
  EXPECT_EQ(options.m_read.m_format, INPUT_FORMAT::NETLIST);
  EXPECT_EQ(options.m_output, "d.json");
  EXPECT_EQ(options.m_read.m_liberty, (std::vector<std::string>{"a.lib", "b.lib"}));
  EXPECT_EQ(options.m_read.m_unknown_cells, UNKNOWN_CELLS::ATOM);
  EXPECT_EQ(options.m_read.m_max_name_bytes, 3u << 20);
}

TEST(OptionsTest, TakesOneFileALibertyOption) {
  OPTIONS options;
  ASSERT_EQ(parse({"translate", "chip.v", "--liberty", "a.lib", "report.txt", "--liberty", "b.lib"},
                  &options),
            std::nullopt);
  EXPECT_EQ(options.m_design, "chip.v");
  EXPECT_EQ(options.m_names, std::vector<std::string>{"report.txt"});
  EXPECT_EQ(options.m_read.m_liberty, (std::vector<std::string>{"a.lib", "b.lib"}));
}

TEST(OptionsTest, RefusesMisuseWithExitCodeTwo) {
  std::vector<std::vector<char const*>> const misuses = {
      {"convert"},
      {"convert", "a.json", "b.json"},
      {"map", "--example", "a.json"},
      {"lookup", "a.json"},
      {"lookup", "-", "--names", "-"},
      {"convert", "a.json", "--strategy", "other"},
      {"convert", "a.json", "--input-format", "vhdl"},
      {"convert", "a.v", "--unknown-cells", "skip"},
      {"convert", "a.json", "--max-instances", "many"},
      {"frobnicate"}};
  for (auto const& args : misuses) {
    OPTIONS options;
    EXPECT_EQ(parse(args, &options), std::optional<int>(EXIT_BAD_INPUT)) << args[0];
  }
}

}  // namespace
}  // namespace zema_tool
