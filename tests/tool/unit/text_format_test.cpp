// The command's one escaper, in its three modes, and the quoting of input in
// messages: every result stays on one line, whatever bytes come in.
#include "tools/support/text_format.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/names/full_path.h"

namespace zema_tool {
namespace {

std::string escaped(std::string_view text, ESCAPE mode) {
  std::string out;
  STRING_SINK sink{out};
  put_escaped(sink, text, mode);
  return out;
}

struct ESCAPE_CASE {
  std::string input;
  char const* json;
  char const* field;
  char const* message;
};

// Named by the JSON form of its input: a raw dump would show the padding.
void PrintTo(ESCAPE_CASE const& c, std::ostream* out) { *out << c.json; }

class EscapeTest : public ::testing::TestWithParam<ESCAPE_CASE> {};

TEST_P(EscapeTest, EscapesEachModeByItsRules) {
  ESCAPE_CASE const& c = GetParam();
  EXPECT_EQ(escaped(c.input, ESCAPE::JSON), c.json);
  EXPECT_EQ(escaped(c.input, ESCAPE::FIELD), c.field);
  EXPECT_EQ(escaped(c.input, ESCAPE::MESSAGE), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTest,
    ::testing::Values(ESCAPE_CASE{"plain_name[0]", "plain_name[0]", "plain_name[0]",
                                  "plain_name[0]"},
                      ESCAPE_CASE{"a\"b\\c", "a\\\"b\\\\c", "a\"b\\c", "a\\\"b\\\\c"},
                      ESCAPE_CASE{std::string("n\0l\n\t\x7f", 6), "n\\u0000l\\u000a\\u0009\\u007f",
                                  "n\\x00l\\x0a\\x09\\x7f", "n\\u0000l\\u000a\\u0009\\u007f"},
                      // Valid UTF-8 passes; a stray continuation byte, an overlong form, a
                      // surrogate and a cut sequence do not.
                      ESCAPE_CASE{"\xc3\xa9t\xf0\x9f\x98\x80", "\xc3\xa9t\xf0\x9f\x98\x80",
                                  "\xc3\xa9t\xf0\x9f\x98\x80", "\xc3\xa9t\xf0\x9f\x98\x80"},
                      ESCAPE_CASE{"\x80x\xc0\xaf\xed\xa0\x80\xe4\xb8",
                                  "\\ufffdx\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd"
                                  "\\ufffd\\ufffd",
                                  "\\x80x\\xc0\\xaf\\xed\\xa0\\x80\\xe4\\xb8",
                                  "\\x80x\\xc0\\xaf\\xed\\xa0\\x80\\xe4\\xb8"}));

TEST(QuotedTest, CutsLongTextsAtACharacterBoundary) {
  EXPECT_EQ(quoted_text("key"), "\"key\"");
  std::string const long_key = std::string(63, 'k') + "\xc3\xa9" + std::string(100, 'z');
  std::string const shown = quoted_text(long_key);
  EXPECT_EQ(shown, "\"" + std::string(63, 'k') + "\"...");
  EXPECT_EQ(quoted_text("a\nb", 1), "\"a\"...");
}

TEST(Utf8Test, ValidatesWholeTexts) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(
      is_valid_utf8("Stra\xc3\x9f"
                    "e \xe4\xb8\xad"));
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("ok\xff"));
}

TEST(DecimalTest, WritesEveryWidth) {
  EXPECT_EQ(decimal(0), "0");
  EXPECT_EQ(decimal(4294967295u), "4294967295");
  EXPECT_EQ(decimal(18446744073709551615ull), "18446744073709551615");
}

TEST(FullPathTest, KeepsTheParentsPathWhenEnteringANode) {
  FULL_PATH path;
  path.enter(1, "a");
  path.enter(2, "b");
  path.enter(3, "c");
  EXPECT_EQ(path.text(), "a/b/c");
  path.enter(2, "d");
  EXPECT_EQ(path.text(), "a/d");
  path.enter(1, "e");
  EXPECT_EQ(path.text(), "e");
}

}  // namespace
}  // namespace zema_tool
