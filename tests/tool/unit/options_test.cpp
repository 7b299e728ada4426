// The command line, parsed once per command: each command's arguments
// sorted out, every value checked as it is parsed, and each misuse refused
// with exit code 2 and one line before anything runs.
#include "tools/commands/command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zema_tool {
namespace {

struct CASE {
  std::vector<char const*> m_args;
  char const* m_error;  // the line on standard error; empty when the command is to run
};

// Parses "zema ARGS..."; gives what it printed on standard error, and
// whether a command was chosen.
std::string parse(std::vector<char const*> args, bool* chosen) {
  args.insert(args.begin(), "zema");
  testing::internal::CaptureStderr();
  std::unique_ptr<COMMAND> command;
  std::optional<int> const done = parse_zema(static_cast<int>(args.size()), args.data(), &command);
  std::string error = testing::internal::GetCapturedStderr();
  *chosen = !done && command != nullptr;
  if (done) {
    EXPECT_EQ(*done, EXIT_BAD_INPUT);
  }
  return error;
}

TEST(OptionsTest, TakesWellFormedCommandLines) {
  std::vector<std::vector<char const*>> const good = {
      {"check", "d.json.xz", "--strategy", "reversible", "--format", "json", "--input-format",
       "yosys", "--top", "cpu", "--max-input-size", "2K", "--max-instances", "100",
       "--max-violations", "3", "--stats"},
      {"lookup", "d.json", "a/b", "--format", "json", "--", "-odd", "--"},
      {"lookup", "--example", "a/b"},
      {"import-yosys", "n.json", "-o", "d.json"},
      {"convert", "d.json", "--max-instances", "unlimited", "--max-input-size", "unlimited"},
      {"convert", "d.json", "--max-instances", "010", "--max-input-size", "3G"},
      {"translate", "d.json", "r.txt", "--to", "converted", "--separator", ".", "--unknown",
       "error", "-o", "out.txt"},
      {"explain", "--example", "u_lane_1", "--format", "json"},
      {"convert", "chip.v.gz", "--input-format", "verilog", "--liberty", "a.lib", "--liberty",
       "b.lib", "--unknown-cells", "atom", "--max-name-bytes", "3M"},
      {"import-yosys", "chip.v", "--liberty", "a.lib", "-o", "d.json"}};
  for (auto const& args : good) {
    bool chosen;
    EXPECT_EQ(parse(args, &chosen), "") << args[0];
    EXPECT_TRUE(chosen) << args[0];
  }
}

TEST(OptionsTest, RefusesMisuseWithOneLine) {
  std::vector<CASE> const misuses = {
      {{"convert"},
       "zema: error: command line: convert: a design is required: give a file, - for standard "
       "input, or --example\n"},
      {{"convert", "a.json", "b.json"},
       "zema: error: command line: convert: one design only, got 2\n"},
      {{"map", "--example", "a.json"},
       "zema: error: command line: map: --example takes no design file\n"},
      {{"lookup", "a.json"},
       "zema: error: command line: lookup: no names: give them as arguments or with --names "
       "FILE\n"},
      // Standard input feeds one input at most, of whatever kind.
      {{"lookup", "-", "--names", "-"},
       "zema: error: command line: lookup: only one input can come from standard input (-)\n"},
      {{"translate", "-"},
       "zema: error: command line: translate: only one input can come from standard input (-)\n"},
      {{"translate", "d.json", "-", "-"},
       "zema: error: command line: translate: only one input can come from standard input (-)\n"},
      {{"explain", "d.json", "--against", "-", "--names", "-"},
       "zema: error: command line: explain: only one input can come from standard input (-)\n"},
      {{"convert", "-", "--liberty", "-"},
       "zema: error: command line: convert: only one input can come from standard input (-)\n"},
      {{"diff", "-", "-"},
       "zema: error: command line: diff: only one input can come from standard input (-)\n"},
      {{"migrate", "a.json", "-"},
       "zema: error: command line: migrate: only one input can come from standard input (-)\n"},
      {{"convert", "a.json", "--strategy", "other"},
       "zema: error: command line: --strategy: other not in {fusion,reversible}\n"},
      {{"convert", "a.json", "--input-format", "json"},
       "zema: error: command line: --input-format: json not in {auto,zema,yosys,verilog}\n"},
      {{"convert", "a.v", "--unknown-cells", "skip"},
       "zema: error: command line: --unknown-cells: skip not in {error,atom}\n"},
      {{"convert", "d.json", "--max-input-size", "4G"},
       "zema: error: command line: --max-input-size: \"4G\" is more than the largest size, "
       "4294967231 bytes\n"},
      {{"frobnicate"},
       "zema: error: command line: no subcommand \"frobnicate\" (the subcommands: check, convert, "
       "diff, explain, import-yosys, lookup, map, migrate, translate)\n"}};
  for (CASE const& c : misuses) {
    bool chosen;
    EXPECT_EQ(parse(c.m_args, &chosen), c.m_error) << c.m_args[0];
    EXPECT_FALSE(chosen);
  }
}

// Numbers are plain decimal: no sign, no other base, no empty value, no
// overflow; sizes take K, M or G and stay within the largest input; a limit
// is lifted by "unlimited", never by a number that wraps.
TEST(OptionsTest, RefusesNumbersThatAreNotPlainDecimal) {
  std::vector<std::pair<char const*, char const*>> const bad = {
      {"--max-instances", "-1"},   {"--max-instances", "-18446744073709551604"},
      {"--max-instances", ""},     {"--max-instances", "0x10"},
      {"--max-instances", "many"}, {"--max-instances", "18446744073709551616"},
      {"--max-instances", "1e6"},  {"--max-input-size", "-1"},
      {"--max-input-size", "1T"},  {"--max-input-size", "5G"},
      {"--max-input-size", "G"},   {"--max-input-size", "1.5M"},
      {"--max-violations", "-3"}};
  for (auto const& option : bad) {
    bool chosen;
    std::string const error =
        parse({option.first == std::string("--max-violations") ? "check" : "convert", "d.json",
               option.first, option.second},
              &chosen);
    EXPECT_FALSE(chosen) << option.first << " " << option.second;
    EXPECT_EQ(error.rfind(std::string("zema: error: command line: ") + option.first + ": ", 0), 0u)
        << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
  }
}

// --liberty takes one file each time it is given: the arguments after it
// stay the command's own.
TEST(OptionsTest, TakesOneFileALibertyOption) {
  std::vector<char const*> args = {"zema",  "translate",  "chip.v",    "--liberty",
                                   "a.lib", "report.txt", "--liberty", "b.lib"};
  std::unique_ptr<COMMAND> command;
  ASSERT_EQ(parse_zema(static_cast<int>(args.size()), args.data(), &command), std::nullopt);
  EXPECT_EQ(command->inputs(), (std::vector<std::string>{"chip.v", "report.txt"}));
}

}  // namespace
}  // namespace zema_tool
