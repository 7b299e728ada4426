#include "tools/support/text_format.h"

namespace zema_tool {

std::size_t utf8_sequence_length(std::string_view text) {
  if (text.empty()) return 0;
  unsigned char const lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  std::size_t length;
  std::uint32_t code;
  std::uint32_t least;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code = lead & 0x1fu;
    least = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    code = lead & 0x0fu;
    least = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code = lead & 0x07u;
    least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    unsigned char const next = static_cast<unsigned char>(text[k]);
    if ((next & 0xc0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3fu);
  }
  if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t const length = utf8_sequence_length(text.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string row_index(std::uint64_t atom, long oterm) {
  std::string text;
  STRING_SINK sink{text};
  put_row_index(sink, atom, oterm);
  return text;
}

std::string quoted_text(std::string_view text, std::size_t max_bytes) {
  bool const cut = text.size() > max_bytes;
  if (cut) {
    // Back up to the start of a character, so that a cut never makes an
    // invalid sequence of a valid one.
    std::size_t end = max_bytes;
    while (end > 0 && end + 4 > max_bytes &&
           (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80) {
      --end;
    }
    text = text.substr(0, end);
  }
  std::string out;
  out.reserve(text.size() + 8);
  out.push_back('"');
  STRING_SINK sink{out};
  put_escaped(sink, text, ESCAPE::MESSAGE);
  out.append(cut ? "\"..." : "\"");
  return out;
}

std::string shortened_message(std::string text) {
  if (text.size() <= kMaxMessageBytes) return text;
  auto at_boundary = [&](std::size_t i) {
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xc0) == 0x80) --i;
    return i;
  };
  std::size_t const head = at_boundary(kMaxMessageBytes / 2);
  std::size_t const tail = at_boundary(text.size() - kMaxMessageBytes / 2 + 8);
  return text.substr(0, head) + " ... " + text.substr(tail);
}

}  // namespace zema_tool
