#pragma once
// What holding a text's document costs, known before it is built: a count
// of the text's tokens in one pass, so that a caller can refuse a text
// whose document would not fit the memory it may spend, rather than meet
// the limit half way.

#include <cstdint>
#include <string_view>

namespace vexlo::json {

// Bytes beyond the text itself, each an upper bound for a text that
// parses (and a count of its tokens for one that does not).
struct MemoryNeeds {
  std::uint64_t parsing = 0;   // the parser's index of the text's tokens, held while it parses
  std::uint64_t document = 0;  // the parsed values and strings, held as long as the document
  std::uint64_t index = 0;     // the random access to members and elements a Value gives
  std::uint64_t ordering = 0;  // the names of objects' members while they are put in name order
};

MemoryNeeds memory_needs(std::string_view text);

// A text up to this many times its length in bytes needs no more than
// this many bytes of each of the above together, whatever its shape.
inline constexpr std::uint64_t kWorstNeedsPerTextByte = 16;

}  // namespace vexlo::json
