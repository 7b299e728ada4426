// RECORD_WRITER: one call per field gives both formats, with the placeholders
// and escapes of each, and an empty output is still a well-formed document.
#include "tools/output/record_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zema_tool {
namespace {

// What `write` prints through a RECORD_WRITER, as TSV or JSON.
template <class WRITE>
std::string written(bool json, WRITE&& write) {
  return written_text([&](OUTPUT_BUFFER& out) {
    RECORD_WRITER writer(out, json ? ROW_FORMAT::JSON : ROW_FORMAT::TSV, "kind\tid\tname\n");
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
  if (JSON_WRITER* const json = writer.json_only("atom")) json->number(3);
  writer.end_row();
  writer.begin_row();
  writer.word("kind", "oterm");
  writer.number("id", 0, false);
  writer.text("name", nullptr);
  if (JSON_WRITER* const json = writer.json_only("atom")) json->null();
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

// Rows inside a document of the caller's, as check writes them, and the
// separators of both styles.
TEST(RecordWriterTest, RowsNestInAnotherDocument) {
  std::string const text = written_text([](OUTPUT_BUFFER& out) {
    JSON_WRITER json(out, JSON_STYLE::SPACED);
    json.begin_object();
    json.key("checked");
    json.number(2);
    json.key("rows");
    RECORD_WRITER rows(json, out);
    rows.begin_row();
    rows.word("kind", "x");
    rows.end_row();
    rows.finish();
    json.end_object();
    json.end_document();
  });
  EXPECT_EQ(text, "{\"checked\": 2, \"rows\": [\n  {\"kind\": \"x\"}\n]}\n");
  std::string const compact = written_text([](OUTPUT_BUFFER& out) {
    JSON_WRITER json(out, JSON_STYLE::COMPACT);
    json.begin_object();
    json.key("a");
    json.begin_array();
    json.number(1);
    json.string("\n");
    json.end_array();
    json.end_object();
    json.end_document();
  });
  EXPECT_EQ(compact, "{\"a\":[1,\"\\u000a\"]}\n");
}

// A document out of order is a bug of the caller's, caught where it happens.
TEST(RecordWriterTest, JsonOutOfPlaceThrows) {
  std::vector<std::function<void(JSON_WRITER&)>> const misuses = {
      [](JSON_WRITER& json) { json.key("top"); },
      [](JSON_WRITER& json) {
        json.begin_object();
        json.number(1);
      },
      [](JSON_WRITER& json) {
        json.begin_object();
        json.end_array();
      },
      [](JSON_WRITER& json) {
        json.begin_array();
        json.key("k");
      },
      [](JSON_WRITER& json) {
        json.begin_object();
        json.key("k");
        json.end_object();
      },
      [](JSON_WRITER& json) {
        json.begin_array();
        json.end_document();
      }};
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> const sink(std::fopen("/dev/null", "w"),
                                                             &std::fclose);
  for (auto const& misuse : misuses) {
    OUTPUT_BUFFER out(sink.get());
    JSON_WRITER json(out, JSON_STYLE::SPACED);
    EXPECT_THROW(misuse(json), std::logic_error);
  }
}

}  // namespace
}  // namespace zema_tool
