// RECORD_WRITER: one call per field gives both formats, with the placeholders
// and escapes of each, and an empty output is still a well-formed document.
#include "tools/output/record_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zema_tool {
namespace {

// What `write` prints through a RECORD_WRITER, as TSV or JSON.
template <class WRITE>
std::string written(bool json, WRITE&& write) {
  return written_text([&](OUTPUT_BUFFER& out) {
    RECORD_WRITER writer(out, json, "kind\tid\tname\n");
    write(writer);
    writer.finish();
  });
}

void two_rows(RECORD_WRITER& writer) {
  std::string_view const name("a\tb\"c");
  writer.begin_row();
  writer.word("kind", "atom");
  writer.number("id", 7);
  writer.text("name", &name);
  writer.json_only_number("atom", 3, true);
  writer.end_row();
  writer.begin_row();
  writer.word("kind", "oterm");
  writer.number("id", 0, false);
  writer.text("name", nullptr);
  writer.json_only_number("atom", 0, false);
  writer.end_row();
}

TEST(RecordWriterTest, WritesEachFieldInBothFormats) {
  EXPECT_EQ(written(false, two_rows), "kind\tid\tname\natom\t7\ta\\x09b\"c\noterm\t-\t-\n");
  EXPECT_EQ(written(true, two_rows),
            "[\n  {\"kind\": \"atom\", \"id\": 7, \"name\": \"a\\u0009b\\\"c\", \"atom\": 3},\n"
            "  {\"kind\": \"oterm\", \"id\": null, \"name\": null, \"atom\": null}\n]\n");
}

TEST(RecordWriterTest, AnEmptyOutputIsAHeaderOrAnEmptyArray) {
  auto const none = [](RECORD_WRITER&) {};
  EXPECT_EQ(written(false, none), "kind\tid\tname\n");
  EXPECT_EQ(written(true, none), "[]\n");
}

TEST(RecordWriterTest, IndexesAreNumbersInTsvAndStringsInJson) {
  auto const index = [](RECORD_WRITER& writer) {
    writer.begin_row();
    writer.index("index", 12, 3);
    writer.index("atom", 12, -1);
    writer.end_row();
  };
  EXPECT_EQ(written(false, index), "kind\tid\tname\n12.3\t12\n");
  EXPECT_EQ(written(true, index), "[\n  {\"index\": \"12.3\", \"atom\": \"12\"}\n]\n");
}

}  // namespace
}  // namespace zema_tool
