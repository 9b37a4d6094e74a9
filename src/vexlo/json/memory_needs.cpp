// The parser keeps 4 bytes for each token of the text (each structural
// character and the start of each scalar), a tape of 8 bytes for each
// literal, string and container end and 16 for each number, and every
// string with 4 bytes of length and a final zero; the index takes 4 bytes
// for each container and each of its children. Strings are counted at
// their length in the text, which their unescaped form never exceeds.

#include "vexlo/json/memory_needs.h"

#include <cstring>

namespace vexlo::json {
namespace {

struct Counts {
  std::uint64_t tokens = 0;
  std::uint64_t tape_words = 2;  // the root's two words
  std::uint64_t string_bytes = 0;
  std::uint64_t values = 0;
  std::uint64_t containers = 0;
};

bool ends_scalar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ':' || c == '[' || c == ']' ||
         c == '{' || c == '}' || c == '"';
}

// The position after the string that begins at `at` (its opening quote):
// after the first quote not escaped, or the end.
const char* string_end(const char* at, const char* end) {
  for (const char* from = at + 1; from < end;) {
    const auto* quote = static_cast<const char*>(std::memchr(from, '"', static_cast<std::size_t>(end - from)));
    if (quote == nullptr) return end;
    const char* backslash = quote;
    while (backslash > from && backslash[-1] == '\\') --backslash;
    if ((quote - backslash) % 2 == 0) return quote + 1;
    from = quote + 1;
  }
  return end;
}

}  // namespace

MemoryNeeds memory_needs(std::string_view text) {
  Counts counts;
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    const char c = *at;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++at;
    } else if (c == ',' || c == ':' || c == ']' || c == '}') {
      ++counts.tokens;
      ++at;
    } else if (c == '[' || c == '{') {
      ++counts.tokens;
      ++counts.values;
      ++counts.containers;
      counts.tape_words += 2;
      ++at;
    } else if (c == '"') {
      const char* after = string_end(at, end);
      ++counts.tokens;
      ++counts.values;
      ++counts.tape_words;
      // 4 bytes of length and a final zero in place of the two quotes.
      counts.string_bytes += static_cast<std::uint64_t>(after - at) + 3;
      at = after;
    } else {
      ++counts.tokens;
      ++counts.values;
      counts.tape_words += (c == '-' || (c >= '0' && c <= '9')) ? 2 : 1;
      do ++at;
      while (at < end && !ends_scalar(*at));
    }
  }
  return MemoryNeeds{.parsing = 4 * (counts.tokens + 1),
                     .document = 8 * counts.tape_words + counts.string_bytes,
                     .index = 4 * (counts.containers + counts.values)};
}

}  // namespace vexlo::json
