// WORD tables: the words the command uses for the values of its
// enumerations (option values, row kinds, rules), each enumeration's words
// in one table beside the enumeration. The command line, the writers and the
// Python module turn values into words and back through that table only.
#ifndef TOOLS_SUPPORT_WORDS_H
#define TOOLS_SUPPORT_WORDS_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zema_tool {

template <class VALUE>
struct WORD {
  VALUE m_value;
  char const* m_text;
};

// The word of `value`; an empty text for a value the table lacks.
template <class VALUE, std::size_t N>
constexpr char const* word_of(WORD<VALUE> const (&table)[N], VALUE value) {
  for (WORD<VALUE> const& word : table) {
    if (word.m_value == value) return word.m_text;
  }
  return "";
}

// The value whose word is `text`, or nothing.
template <class VALUE, std::size_t N>
std::optional<VALUE> value_of(WORD<VALUE> const (&table)[N], std::string_view text) {
  for (WORD<VALUE> const& word : table) {
    if (text == word.m_text) return word.m_value;
  }
  return std::nullopt;
}

// Every word of the table, in its order: the choices an option offers.
template <class VALUE, std::size_t N>
std::vector<std::string> words_of(WORD<VALUE> const (&table)[N]) {
  std::vector<std::string> words;
  for (WORD<VALUE> const& word : table) words.emplace_back(word.m_text);
  return words;
}

// "a", "b" or "c": the words of a table for a message.
template <class VALUE, std::size_t N>
std::string word_choices(WORD<VALUE> const (&table)[N]) {
  std::string text;
  for (std::size_t i = 0; i < N; ++i) {
    if (i != 0) text += i + 1 == N ? " or " : ", ";
    text += '"';
    text += table[i].m_text;
    text += '"';
  }
  return text;
}

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_WORDS_H
