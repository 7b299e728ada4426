// Tests of the reference host's naming functions for the target scheme: the
// segment encoding, path splitting at unescaped "/", exact reversal of every
// converted path, and refusal of every text that no conversion produces.
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

std::string convert(ConvertFn fn, std::string const& path, bool no_backslash) {
  GEN_STRING out("stale content");
  fn(&out, path.c_str(), no_backslash, false);
  return std::string(out.data(), out.size());
}

std::string unit(std::string const& text) {
  GEN_STRING out("stale content");
  hdb_convert_unit_name_to_vexa(&out, text.c_str(), false);
  return std::string(out.data(), out.size());
}

bool is_segment_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '[' || c == ']' || c == '_';
}

// A converted path is the optional backslash, then segment bytes and "/" only.
void expect_converted_shape(std::string const& converted, bool no_backslash) {
  if (!no_backslash) {
    ASSERT_FALSE(converted.empty());
    EXPECT_EQ('\\', converted[0]);
  }
  for (std::size_t i = no_backslash ? 0 : 1; i < converted.size(); ++i) {
    EXPECT_TRUE(converted[i] == '/' || is_segment_byte(converted[i])) << converted;
  }
}

void expect_round_trip(std::string const& path) {
  for (ConvertFn fn : kPathFunctions) {
    for (bool no_backslash : {false, true}) {
      std::string converted = convert(fn, path, no_backslash);
      expect_converted_shape(converted, no_backslash);
      GEN_STRING back("stale content");
      ASSERT_TRUE(hdb_revert_vexa_full_name(&back, converted.c_str(), false)) << converted;
      EXPECT_EQ(path, std::string(back.data(), back.size())) << converted;
      // Strict mode takes the same text only without the backslash.
      GEN_STRING strict_back;
      EXPECT_EQ(no_backslash, hdb_revert_vexa_full_name(&strict_back, converted.c_str(), true));
    }
  }
}

TEST(VexaNaming, ConvertsKnownPaths) {
  struct CASE {
    char const* path;
    char const* converted;
  } const cases[] = {
      {"CPU/Reg", "\\_43_50_55/_52eg"},
      {"alu/add_0", "\\alu/add__0"},
      {"mem[3]/q", "\\mem[3]/q"},
      {"a\\/b/c", "\\a_5c_2fb/c"},  // escaped "/" stays inside its segment
      {"a\\\\/b", "\\a_5c_5c/b"},   // escaped backslash, then a separator
      {"\\./x\\#1", "\\_5c_2e/x_5c_231"},
      {"tail\\", "\\tail_5c"},
      {"", "\\"},
      {"/", "\\/"},
      {"\xc3\xa4 ~", "\\_c3_a4_20_7e"},
  };
  for (CASE const& c : cases) {
    for (ConvertFn fn : kPathFunctions) {
      EXPECT_EQ(c.converted, convert(fn, c.path, false)) << c.path;
      EXPECT_EQ(std::string(c.converted + 1), convert(fn, c.path, true)) << c.path;
    }
  }
}

TEST(VexaNaming, UnitNameIsOneSegment) {
  EXPECT_EQ("a_2fb", unit("a/b"));
  EXPECT_EQ("a_5cb", unit("a\\b"));
  EXPECT_EQ("_5c_2f", unit("\\/"));
  EXPECT_EQ("", unit(""));
  EXPECT_EQ("x__1[0]", unit("x_1[0]"));
  // Without "/" or "\" a unit name converts like a path without its backslash.
  std::mt19937 rng(7);
  for (int n = 0; n < 500; ++n) {
    std::string text;
    for (auto len = rng() % 20; len > 0; --len) {
      char c = static_cast<char>(1 + rng() % 255);
      if (c != '/' && c != '\\') text.push_back(c);
    }
    EXPECT_EQ(convert(hdb_convert_net_name_to_vexa, text, true), unit(text));
  }
}

TEST(VexaNaming, RoundTripsRandomByteStrings) {
  std::mt19937 rng(12345);
  for (int n = 0; n < 2000; ++n) {
    std::string path;
    for (auto len = rng() % 24; len > 0; --len) path.push_back(static_cast<char>(1 + rng() % 255));
    expect_round_trip(path);
  }
  // Every byte value on its own and next to the bytes with meaning.
  for (int b = 1; b < 256; ++b) {
    std::string c(1, static_cast<char>(b));
    expect_round_trip(c);
    expect_round_trip(std::string("\\").append(c).append("/").append(c).append("\\"));
  }
}

TEST(VexaNaming, RoundTripsRandomHierarchicalPaths) {
  char const* const pieces[] = {"a",    "Reg",   "_", "__x", "[7]", "\\/",  "\\\\", "\\.",
                                "\\#1", "\\#12", "#", ".",   " ",   "\xff", "Z9"};
  std::mt19937 rng(99);
  for (int n = 0; n < 2000; ++n) {
    std::string path;
    for (auto levels = 1 + rng() % 5; levels > 0; --levels) {
      if (!path.empty()) path += '/';
      for (auto count = rng() % 4; count > 0; --count) path += pieces[rng() % std::size(pieces)];
    }
    expect_round_trip(path);
  }
}

TEST(VexaNaming, RevertRejectsTextNoConversionProduces) {
  char const* const bad[] = {
      "aB",      // upper-case byte outside the alphabet
      "_4",      // escape cut short
      "_zz",     // not hex digits
      "_4A",     // upper-case hex digit
      "_61",     // escape of a plain byte
      "_5f",     // escape of "_" instead of "__"
      "___",     // "__" then a lone "_"
      "_00",     // NUL cannot be in a path
      "_2f",     // decodes to a separator the path would not have
      "a/_2fb",  // the same inside a longer path
      "_5c/x",   // an escaping backslash would swallow the separator
      "\\\\a",   // two leading backslashes
      "a b",     // space is never written raw
      "a\\b",    // backslash is never written raw after the first byte
  };
  for (char const* text : bad) {
    GEN_STRING out("unchanged");
    EXPECT_FALSE(hdb_revert_vexa_full_name(&out, text, false)) << text;
    EXPECT_EQ("unchanged", std::string(out.c_str())) << text;
  }
  GEN_STRING out("unchanged");
  EXPECT_FALSE(hdb_revert_vexa_full_name(&out, "\\abc", true));
  EXPECT_EQ("unchanged", std::string(out.c_str()));
  EXPECT_TRUE(hdb_revert_vexa_full_name(&out, "abc/_5c", true));
  EXPECT_EQ("abc/\\", std::string(out.c_str()));
}

TEST(VexaNaming, TraceWritesOneHdbDebugLine) {
  GEN_STRING out;
  zema_host::set_debug_output(true);
  zema_host::clear_debug_lines();
  hdb_convert_cell_name_to_vexa(&out, "A/b", CDB_ATOM_DFF, false, true);
  hdb_convert_cell_name_to_vexa(&out, "A/b", CDB_ATOM_DFF, false, false);
  zema_host::set_debug_output(false);
  ASSERT_EQ(1u, zema_host::debug_lines().size());
  EXPECT_EQ("HDB: hdb_convert_cell_name_to_vexa(\"A/b\", DFF) -> \"\\_41/b\"",
            zema_host::debug_lines()[0]);
  zema_host::clear_debug_lines();
}

TEST(VexaNaming, CallLogRecordsFunctionTextTypeAndFlags) {
  GEN_STRING out;
  zema_host::clear_call_log();
  zema_host::set_call_log(true);
  hdb_convert_unit_name_to_vexa(&out, "u", false);
  hdb_convert_cell_name_to_vexa(&out, "c", CDB_ATOM_PIN, true, false);
  hdb_convert_net_name_to_vexa(&out, "n", false, false);
  hdb_convert_pin_name_to_vexa(&out, "p", true, false);
  hdb_revert_vexa_full_name(&out, "\\r", true);
  zema_host::set_call_log(false);
  hdb_convert_net_name_to_vexa(&out, "not logged", false, false);

  struct EXPECTED {
    char const* function;
    char const* text;
    int type;
    bool flag1;
  } const expected[] = {
      {"hdb_convert_unit_name_to_vexa", "u", -1, false},
      {"hdb_convert_cell_name_to_vexa", "c", CDB_ATOM_PIN, true},
      {"hdb_convert_net_name_to_vexa", "n", -1, false},
      {"hdb_convert_pin_name_to_vexa", "p", -1, true},
      {"hdb_revert_vexa_full_name", "\\r", -1, true},
  };
  std::vector<zema_host::HOST_CALL> const& log = zema_host::call_log();
  ASSERT_EQ(std::size(expected), log.size());
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(expected[i].function, log[i].function);
    EXPECT_EQ(expected[i].text, log[i].text);
    EXPECT_EQ(expected[i].type, log[i].type);
    EXPECT_EQ(expected[i].flag1, log[i].flag1) << log[i].function;
    EXPECT_FALSE(log[i].flag2) << log[i].function;
  }
  zema_host::clear_call_log();
}

}  // namespace
