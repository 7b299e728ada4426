// Tests of the reference host's naming functions for the target scheme: the
// segment encoding, path splitting at unescaped "/", exact reversal of every
// converted path, refusal of every text that no conversion produces, and the
// trace and call-log records.
#include "h/hdb_vexa_sys.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "host/zema_host.h"

namespace {

using ConvertFn = void (*)(GEN_STRING*, char const*, bool, bool);

void convert_cell(GEN_STRING* out, char const* path, bool no_backslash, bool trace) {
  hdb_convert_cell_name_to_vexa(out, path, CDB_ATOM_LUT, no_backslash, trace);
}

ConvertFn const kPathFunctions[] = {convert_cell, hdb_convert_net_name_to_vexa,
                                    hdb_convert_pin_name_to_vexa};

std::string text_of(GEN_STRING const& s) { return std::string(s.data(), s.size()); }

std::string convert(ConvertFn fn, std::string const& path, bool no_backslash) {
  GEN_STRING out("stale content");
  fn(&out, path.c_str(), no_backslash, false);
  return text_of(out);
}

std::string unit(std::string const& text) {
  GEN_STRING out("stale content");
  hdb_convert_unit_name_to_vexa(&out, text.c_str(), false);
  return text_of(out);
}

TEST(VexaNaming, ConvertsKnownPathsAndUnitNames) {
  struct CASE {
    char const* path;
    char const* converted;
    char const* unit;
  } const cases[] = {
      {"CPU/Reg", "\\_43_50_55/_52eg", "_43_50_55_2f_52eg"},
      {"alu/add_0", "\\alu/add__0", "alu_2fadd__0"},
      {"mem[3]/q", "\\mem[3]/q", "mem[3]_2fq"},
      {"a\\/b/c", "\\a_5c_2fb/c", "a_5c_2fb_2fc"},  // escaped "/" stays inside its segment
      {"a\\\\/b", "\\a_5c_5c/b", "a_5c_5c_2fb"},    // escaped backslash, then a separator
      {"\\./x\\#1", "\\_5c_2e/x_5c_231", "_5c_2e_2fx_5c_231"},
      {"tail\\", "\\tail_5c", "tail_5c"},
      {"", "\\", ""},
      {"/", "\\/", "_2f"},
      {"\xc3\xa4 ~", "\\_c3_a4_20_7e", "_c3_a4_20_7e"},
  };
  for (CASE const& c : cases) {
    for (ConvertFn fn : kPathFunctions) {
      EXPECT_EQ(c.converted, convert(fn, c.path, false)) << c.path;
      EXPECT_EQ(std::string(c.converted + 1), convert(fn, c.path, true)) << c.path;
    }
    EXPECT_EQ(c.unit, unit(c.path)) << c.path;
  }
  // Long paths are encoded a kilobyte at a time: an escape whose backslash
  // ends one kilobyte keeps the "/" that starts the next in its segment.
  std::string const run(1023, 'a');
  EXPECT_EQ("\\" + run + "_5c_2fb/c", convert(hdb_convert_net_name_to_vexa, run + "\\/b/c", false));
  EXPECT_EQ(run + "_5c_2fb_2fc", unit(run + "\\/b/c"));
}

// Paths from random bytes and from pieces with the bytes that have meaning:
// every conversion uses only the target alphabet and reverts to its path;
// strict reversal takes it only without the backslash. A unit name without "/"
// or "\" converts like a path without the backslash.
TEST(VexaNaming, EveryConvertedPathRevertsExactly) {
  char const* const pieces[] = {"a",    "Reg", "_", "__x", "[7]",  "\\/", "\\\\", "\\.",
                                "\\#1", "#",   ".", " ",   "\xff", "Z9",  "/",    "\\"};
  std::vector<std::string> paths;
  for (int b = 1; b < 256; ++b) {
    std::string const c(1, static_cast<char>(b));
    paths.push_back(c);
    paths.push_back(std::string("\\").append(c).append("/").append(c).append("\\"));
  }
  std::mt19937 rng(12345);
  for (int n = 0; n < 3000; ++n) {
    std::string path;
    for (auto count = rng() % 12; count > 0; --count) {
      path += rng() % 2 ? std::string(1, static_cast<char>(1 + rng() % 255))
                        : std::string(pieces[rng() % std::size(pieces)]);
    }
    paths.push_back(path);
  }
  for (std::string const& path : paths) {
    for (ConvertFn fn : kPathFunctions) {
      for (bool no_backslash : {false, true}) {
        std::string const converted = convert(fn, path, no_backslash);
        EXPECT_EQ(!no_backslash, converted.rfind('\\', 0) == 0) << converted;
        EXPECT_EQ(std::string::npos, converted.find_first_not_of(
                                         "abcdefghijklmnopqrstuvwxyz0123456789[]_/", !no_backslash))
            << converted;
        GEN_STRING back("stale"), strict_back;
        ASSERT_TRUE(hdb_revert_vexa_full_name(&back, converted.c_str(), false)) << converted;
        EXPECT_EQ(path, text_of(back)) << converted;
        EXPECT_EQ(no_backslash, hdb_revert_vexa_full_name(&strict_back, converted.c_str(), true));
      }
    }
    if (path.find_first_of("/\\") == std::string::npos) {
      EXPECT_EQ(convert(hdb_convert_net_name_to_vexa, path, true), unit(path));
    }
  }
}

TEST(VexaNaming, RevertRejectsTextNoConversionProduces) {
  char const* const bad[] = {
      "aB",    "a b", "a\\b",             // bytes never written raw
      "_4",    "_zz", "_4A",              // escapes cut short, not hex, upper-case hex
      "_61",   "_5f", "___",              // escapes of plain bytes, "_" not written as "__"
      "_00",   "_2f", "a/_2fb", "_5c/x",  // NUL, separators the path would not have
      "\\\\a",                            // two leading backslashes
  };
  for (char const* text : bad) {
    GEN_STRING out("unchanged");
    EXPECT_FALSE(hdb_revert_vexa_full_name(&out, text, false)) << text;
    EXPECT_EQ("unchanged", text_of(out)) << text;
  }
  GEN_STRING out("unchanged");
  EXPECT_FALSE(hdb_revert_vexa_full_name(&out, "\\abc", true));
  EXPECT_EQ("unchanged", text_of(out));
}

TEST(VexaNaming, TraceAndCallLogRecordTheCallWhenSwitchedOn) {
  GEN_STRING out;
  zema_host::clear_debug_lines();
  zema_host::clear_call_log();
  hdb_convert_cell_name_to_vexa(&out, "A/b", CDB_ATOM_DFF, true, true);  // neither is on
  zema_host::set_debug_output(true);
  zema_host::set_call_log(true);
  hdb_convert_cell_name_to_vexa(&out, "A/b", CDB_ATOM_DFF, true, true);
  hdb_convert_pin_name_to_vexa(&out, "p", false, false);
  zema_host::set_call_log(false);
  zema_host::set_debug_output(false);
  EXPECT_EQ(
      std::vector<std::string>{"HDB: hdb_convert_cell_name_to_vexa(\"A/b\", DFF) -> \"_41/b\""},
      zema_host::debug_lines());
  std::vector<std::string> log;  // function(text) type flag1 flag2
  for (zema_host::HOST_CALL const& c : zema_host::call_log()) {
    log.push_back(c.function + "(" + c.text + ") " + std::to_string(c.type) + " " +
                  std::to_string(c.flag1) + std::to_string(c.flag2));
  }
  EXPECT_EQ((std::vector<std::string>{
                "hdb_convert_cell_name_to_vexa(A/b) " + std::to_string(CDB_ATOM_DFF) + " 11",
                "hdb_convert_pin_name_to_vexa(p) -1 00"}),
            log);
  zema_host::clear_call_log();
  zema_host::clear_debug_lines();
}

}  // namespace
