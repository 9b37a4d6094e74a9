#pragma once
// How much memory reading one log may take: three times its size, plus a
// fixed slack that the readers of small logs share. A log whose document
// would take more is refused, as one that cannot be opened, before any of
// its document is built.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexlo {

inline constexpr std::uint64_t kMemorySlack = std::uint64_t{64} << 20;

// What is held of a log while it is read, besides its text.
struct LogHolding {
  bool parser_kept = true;  // the parser's index of the text stays until the document goes
  bool indexed = true;      // the document gives random access to its values
  bool line = false;        // a line as long as the text is made while the document lives
};

// Empty when the log `text` may be held as `holding` says within three times
// its size plus `slack`, otherwise the reason to give for refusing it.
std::string refusal_for(std::string_view text, LogHolding holding, std::uint64_t slack);

// Logs up to this size may be read by each of `readers` threads at once
// without a count of their needs: whatever their shape, together they stay
// within half the slack. Larger ones are read one at a time, with the other
// half and their own three times.
std::uint64_t uncounted_log_size(std::size_t readers);

}  // namespace vexlo
