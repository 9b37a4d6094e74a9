#pragma once
// The pieces of the log file scan that decide what a file contributes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexlo {

// True when the part of the name after its last "." is exactly "json" and
// that "." is not the name's first character.
bool has_json_extension(std::string_view name);

// The time of a log file: its top-level "boot_timestamp" when that is a
// signed 64-bit integer, else `modified`. No value when the file cannot be
// read, is not UTF-8 or is not exactly one JSON value.
std::optional<std::int64_t> read_log_time(const std::string& path, std::int64_t modified);

}  // namespace vexlo
