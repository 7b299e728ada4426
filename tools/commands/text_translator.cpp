#include "tools/commands/text_translator.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "atm/zema/zema_naming_rules.h"

namespace zema_tool {

TEXT_TRANSLATOR::TEXT_TRANSLATOR(NAME_INDEX const& index, bool to_original, char separator,
                                 UNKNOWN unknown)
    : m_index(index),
      m_to_original(to_original),
      m_separator(separator),
      m_unknown(std::move(unknown)) {
  for (int c = 0; c < 256; ++c) {
    char const byte = static_cast<char>(c);
    if (to_original) {
      m_in_token[c] = zema_is_legal_name_char(byte) || (byte >= 'A' && byte <= 'Z') ||
                      byte == '$' || byte == separator;
    } else {
      m_in_token[c] = std::strchr(" \t\n\r\v\f{}\"',;()", c) == nullptr;
    }
  }
}

std::size_t TEXT_TRANSLATOR::put(std::string_view text, bool last, OUTPUT_BUFFER& out) {
  auto const in_token = [this](char c) { return m_in_token[static_cast<unsigned char>(c)]; };
  std::size_t end = text.size();
  if (!last) {
    while (end > 0 && in_token(text[end - 1])) --end;
  }
  m_piece = text.data();
  m_counted = text.data();
  std::size_t at = 0;
  while (at < end) {
    std::size_t start = at;
    while (at < end && !in_token(text[at])) ++at;
    out.put(text.substr(start, at - start));
    start = at;
    while (at < end && in_token(text[at])) ++at;
    if (at > start) token(text.substr(start, at - start), out);
  }
  if (m_unknown) count_lines_to(text.data() + end);
  m_piece_offset += end;
  return end;
}

void TEXT_TRANSLATOR::end_text() {
  m_piece_offset = 0;
  m_line = 1;
  m_line_start = 0;
}

void TEXT_TRANSLATOR::token(std::string_view text, OUTPUT_BUFFER& out) {
  // Brackets that the token does not balance quote it: "[get_cells a/b]".
  std::size_t const opens = static_cast<std::size_t>(std::count(text.begin(), text.end(), '['));
  std::size_t const closes = static_cast<std::size_t>(std::count(text.begin(), text.end(), ']'));
  std::size_t front = 0;
  std::size_t back = text.size();
  for (std::size_t extra = closes > opens ? closes - opens : 0;
       extra > 0 && back > front && text[back - 1] == ']'; --extra) {
    --back;
  }
  for (std::size_t extra = opens > closes ? opens - closes : 0;
       extra > 0 && front < back && text[front] == '['; --extra) {
    ++front;
  }
  std::string_view name = text.substr(front, back - front);
  if (name.empty()) {
    out.put(text);
    return;
  }
  std::string_view to;
  auto const translate = [&](std::string_view candidate) {
    return m_to_original ? to_original(candidate, &to) : to_converted(candidate, &to);
  };
  std::size_t length = translate(name);
  if (length == 0 && name.size() > 1 && name[0] == '\\') {
    // A backslashed name: the backslash stays, the name behind it is translated.
    ++front;
    name.remove_prefix(1);
    length = translate(name);
  }
  if (length == 0) {
    if (m_unknown && looks_like_name(name)) {
      count_lines_to(name.data());
      m_unknown(
          name, m_line,
          m_piece_offset + static_cast<std::uint64_t>(name.data() - m_piece) - m_line_start + 1);
    }
    out.put(text);
    return;
  }
  ++m_translated;
  out.put(text.substr(0, front));
  out.put(to);
  out.put(text.substr(front + length));
}

std::size_t TEXT_TRANSLATOR::to_original(std::string_view name, std::string_view* to) {
  std::string_view key = name;
  if (m_separator != '/') {
    m_scratch.assign(name);
    std::replace(m_scratch.begin(), m_scratch.end(), m_separator, '/');
    key = m_scratch;
  }
  // The whole token first, then shorter prefixes, each up to a separator.
  for (std::size_t end = name.size(); end != 0 && end != std::string_view::npos;
       end = name.rfind(m_separator, end - 1)) {
    if (end > m_index.longest_converted()) continue;
    if (std::string_view const* const original = m_index.original_of(key.substr(0, end))) {
      *to = *original;
      return end;
    }
  }
  return 0;
}

std::size_t TEXT_TRANSLATOR::to_converted(std::string_view name, std::string_view* to) {
  // Levels end at a "/" that no backslash escapes; a leading "/" starts the
  // hierarchy's form and ends nothing.
  m_ends.clear();
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\') {
      ++i;
    } else if (name[i] == '/' && i > 0) {
      m_ends.push_back(i);
    }
  }
  m_ends.push_back(name.size());
  bool const rooted = name[0] == '/';
  std::string_view const* converted = nullptr;
  std::size_t length = 0;
  for (std::size_t k = m_ends.size(); k-- > 0 && converted == nullptr;) {
    length = m_ends[k];
    if (length > m_index.longest_original()) continue;
    std::string_view const prefix = name.substr(0, length);
    converted = m_index.converted_of(prefix);
    // An ambiguous name is a name: it stays as it is, whole.
    if (converted == nullptr && m_index.knows_original(prefix)) return 0;
    if (converted == nullptr && !rooted) {
      // A path of the hierarchy written without its leading "/".
      m_scratch.assign(1, '/');
      m_scratch.append(name.substr(0, length));
      converted = m_index.converted_of(m_scratch);
    }
  }
  if (converted == nullptr) return 0;
  m_output.assign(*converted);
  if (m_separator != '/') std::replace(m_output.begin(), m_output.end(), '/', m_separator);
  *to = m_output;
  return length;
}

// Names whose absence --unknown reports: converted names of the legal
// alphabet with a level below the top, original paths with a "/".
bool TEXT_TRANSLATOR::looks_like_name(std::string_view name) const {
  if (!m_to_original) return name.find('/') != std::string_view::npos;
  bool separated = false;
  for (char const c : name) {
    separated = separated || c == m_separator;
    if (c != m_separator && !zema_is_legal_name_char(c)) return false;
  }
  return separated;
}

void TEXT_TRANSLATOR::count_lines_to(char const* at) {
  while (m_counted < at) {
    void const* const line_end =
        std::memchr(m_counted, '\n', static_cast<std::size_t>(at - m_counted));
    if (line_end == nullptr) break;
    m_counted = static_cast<char const*>(line_end) + 1;
    ++m_line;
    m_line_start = m_piece_offset + static_cast<std::uint64_t>(m_counted - m_piece);
  }
  m_counted = at;
}

}  // namespace zema_tool
