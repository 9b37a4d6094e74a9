#include "vexlo/browse/words.h"

#include <optional>

namespace vexlo::browse {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool needs_quotes(std::string_view word) {
  return word.empty() || word.find_first_of(" \t'\"\\") != std::string_view::npos;
}

}  // namespace

std::vector<std::string> split_words(std::string_view line) {
  std::vector<std::string> words;
  std::optional<std::string> word;  // none between words
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == 0 && is_blank(c)) {
      if (word) words.push_back(std::move(*word));
      word.reset();
      continue;
    }
    if (!word) word.emplace();
    if (quote == '\'') {
      if (c == '\'') quote = 0; else *word += c;
    } else if (c == '\\' && i + 1 < line.size() &&
               (quote == 0 || line[i + 1] == '"' || line[i + 1] == '\\')) {
      *word += line[++i];
    } else if (c == '"' && quote == '"') {
      quote = 0;
    } else if (quote == 0 && (c == '\'' || c == '"')) {
      quote = c;
    } else {
      *word += c;
    }
  }
  if (word) words.push_back(std::move(*word));
  return words;
}

std::string joined_words(std::span<const std::string> words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    if (!needs_quotes(word)) {
      line += word;
      continue;
    }
    line += '\'';
    for (const char c : word) {
      // A single quote ends the quoted part, is kept by a backslash, and a
      // new quoted part begins.
      if (c == '\'') line += "'\\''"; else line += c;
    }
    line += '\'';
  }
  return line;
}

}  // namespace vexlo::browse
