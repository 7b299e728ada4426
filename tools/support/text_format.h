// How the zema command writes text: decimal numbers, and strings escaped for
// its JSON output, its tab-separated fields and the messages that quote input.
//
// Every number the command prints goes through write_decimal and every string
// that may hold bytes from the input goes through put_escaped, so an output
// line or a message is always one line, whatever the input holds.
#ifndef TOOLS_SUPPORT_TEXT_FORMAT_H
#define TOOLS_SUPPORT_TEXT_FORMAT_H

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zema_tool {

// The four characters JSON allows between tokens.
constexpr bool is_json_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Room for the decimal digits of any 64-bit unsigned value.
constexpr std::size_t kDecimalRoom = 20;

// Writes `value` in decimal at `out`, which has kDecimalRoom bytes of room,
// and gives the end of the digits.
inline char* write_decimal(char* out, std::uint64_t value) {
  return std::to_chars(out, out + kDecimalRoom, value).ptr;
}

// `value` in decimal.
inline std::string decimal(std::uint64_t value) {
  char digits[kDecimalRoom];
  return std::string(digits, write_decimal(digits, value));
}

// Puts the place of an atom in the netlist ("3") or of one of its oterms
// ("3.1", `oterm` its position among the atom's) into `sink`, which has
// put(std::string_view): the one form of a row's index, in rows and in
// messages.
template <class SINK>
void put_row_index(SINK& sink, std::uint64_t atom, long oterm) {
  char digits[2 * kDecimalRoom + 1];
  char* end = write_decimal(digits, atom);
  if (oterm >= 0) {
    *end++ = '.';
    end = write_decimal(end, static_cast<std::uint64_t>(oterm));
  }
  sink.put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

// The length of the valid UTF-8 sequence at the start of `text`, or 0 when
// it does not start with one (a stray continuation byte, a truncated or
// overlong sequence, a surrogate, a code point above U+10FFFF).
std::size_t utf8_sequence_length(std::string_view text);

// Whether all of `text` is valid UTF-8.
bool is_valid_utf8(std::string_view text);

enum class ESCAPE {
  // A JSON string body: `"` and `\` escaped, control bytes and DEL as
  // \u00XX; a byte that is not valid UTF-8 becomes \ufffd.
  JSON,
  // A tab-separated field: control bytes, DEL and bytes that are not valid
  // UTF-8 as \xNN; everything else, backslashes included, as it is.
  FIELD,
  // Text quoted in a message: as JSON, but a byte that is not valid UTF-8 is
  // shown as \xNN.
  MESSAGE
};

// Appends `byte` to `sink` as "\xNN", the escape of a byte in a field.
template <class SINK>
void put_byte_escape(SINK& sink, unsigned char byte) {
  static char const kHex[] = "0123456789abcdef";
  char const escape[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
  sink.put(std::string_view(escape, 4));
}

// Appends `text` escaped by `mode` to `sink`, which has put(char) and
// put(std::string_view). Runs of bytes that need no escape go in one put.
template <class SINK>
void put_escaped(SINK& sink, std::string_view text, ESCAPE mode) {
  static char const kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // start of the pending run of bytes copied as they are
  std::size_t i = 0;
  auto flush = [&] {
    if (i > plain) sink.put(text.substr(plain, i - plain));
  };
  while (i < text.size()) {
    unsigned char const byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7f) {
      if (mode != ESCAPE::FIELD && (byte == '"' || byte == '\\')) {
        flush();
        sink.put('\\');
        sink.put(static_cast<char>(byte));
        plain = ++i;
      } else {
        ++i;
      }
      continue;
    }
    if (byte >= 0x80) {
      std::size_t const length = utf8_sequence_length(text.substr(i));
      if (length != 0) {
        i += length;
        continue;
      }
    }
    flush();
    if (byte >= 0x80 && mode == ESCAPE::JSON) {
      sink.put(std::string_view("\\ufffd"));
    } else if (mode == ESCAPE::FIELD || byte >= 0x80) {
      put_byte_escape(sink, byte);
    } else {
      char const escape[6] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 15]};
      sink.put(std::string_view(escape, 6));
    }
    plain = ++i;
  }
  flush();
}

// A std::string as a sink for put_escaped.
struct STRING_SINK {
  std::string& m_text;
  void put(char c) { m_text.push_back(c); }
  void put(std::string_view text) { m_text.append(text); }
};

// The index of a row as put_row_index writes it.
std::string row_index(std::uint64_t atom, long oterm);

// The most bytes of input that a message quotes; longer texts are cut at a
// character boundary and end in "...".
constexpr std::size_t kQuotedBytes = 64;

// `text` in double quotes, escaped for a message (ESCAPE::MESSAGE) and cut
// after `max_bytes` bytes, so that a message stays one short line.
std::string quoted_text(std::string_view text, std::size_t max_bytes = kQuotedBytes);

// The `count` items that item(i) gives, joined by `separator`. A long list
// keeps its first four and last three items, with the number of those left
// out between them ("... 12 more UNITs ..."), so that a message stays short
// and is built in time linear in what it shows.
template <class ITEM>
std::string bounded_list(std::size_t count, ITEM&& item, std::string_view separator,
                         std::string_view unit) {
  std::string list;
  auto add = [&](std::size_t i) {
    if (!list.empty()) list.append(separator);
    list.append(item(i));
  };
  if (count <= 8) {
    for (std::size_t i = 0; i < count; ++i) add(i);
    return list;
  }
  for (std::size_t i = 0; i < 4; ++i) add(i);
  list.append(separator).append("(").append(decimal(count - 7)).append(" more ");
  list.append(unit).append("s)");
  for (std::size_t i = count - 3; i < count; ++i) add(i);
  return list;
}

// The most bytes of a message's text; a longer one keeps its start and end
// with " ... " between them, cut at character boundaries.
constexpr std::size_t kMaxMessageBytes = 960;
std::string shortened_message(std::string text);

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_TEXT_FORMAT_H
