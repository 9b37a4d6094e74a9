#pragma once
// A check of a whole JSON text that builds no document: one pass over the
// bytes, in memory that grows with nothing but a fixed table of the open
// containers. It reads the boot timestamp of a large log without the
// parser's index and tape, which cost several times the text's size.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "vexlo/json/json.h"

namespace vexlo::json {

// Tape indices are held in 32 bits; a text is never longer than this.
inline constexpr std::size_t kMaxTextSize = std::numeric_limits<std::uint32_t>::max() - 1024;

// Texts from this size on are read by read_boot_timestamp_streamed when a
// Parser reads their boot timestamps; smaller ones by the faster parser.
inline constexpr std::size_t kStreamedCheckFrom = std::size_t{4} << 20;

// Accepts exactly the texts that parse accepts and returns what
// Parser::read_boot_timestamp returns for them.
std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp_streamed(std::string_view text);

// Whether parse accepts the text, found in the same single pass.
bool is_one_value_streamed(std::string_view text);

// Why parse refuses `text`, for a person: what is wrong and the byte where
// it is ("ends inside a string at byte 4096"); nothing when parse accepts it.
std::optional<std::string> describe_json_fault(std::string_view text);

}  // namespace vexlo::json
