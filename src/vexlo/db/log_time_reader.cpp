#include "vexlo/db/log_time_reader.h"

#include <fcntl.h>

#include <cerrno>

#include "vexlo/common/out_of_memory.h"

namespace vexlo {

std::optional<std::int64_t> LogTimeReader::read(const std::string& path, std::int64_t modified,
                                                std::uint64_t max_size) {
  const auto file = os::open_regular_file(AT_FDCWD, path, os::Links::Follow);
  if (!file) return unreadable(file.error().os_code);
  return read(*file, modified, max_size);
}

bool LogTimeReader::last_open_short_of_descriptors() const {
  return last_read_failed_ && (last_open_error_ == EMFILE || last_open_error_ == ENFILE);
}

std::optional<std::int64_t> LogTimeReader::read(const os::OpenFile& file, std::int64_t modified,
                                                std::uint64_t max_size) {
  // No UTF-8 check of its own: the parser rejects text that is not UTF-8,
  // and either way the file is skipped. So is a file that cannot be JSON
  // from its first bytes, one that holds a NUL byte, and one too large to
  // hold in memory.
  last_read_failed_ = false;
  last_open_error_ = 0;
  const auto read_time = [&]() -> std::optional<std::int64_t> {
    const os::ReadRules rules{
        .spare = json::kPadding, .check = json::may_begin_value, .stop_after_nul = true, .max_size = max_size};
    const auto read = os::read_open_file(file, buffer_, rules);
    if (!read) {
      last_read_failed_ = true;
      return std::nullopt;
    }
    if (*read != os::ReadContent::Whole) return std::nullopt;
    const auto boot_timestamp = parser_.read_boot_timestamp(json::PaddedText(buffer_));
    if (boot_timestamp) return boot_timestamp->value_or(modified);
    // Memory that ran out says nothing of the content: such a file is one
    // that could not be read (see common/out_of_memory.h).
    last_read_failed_ = boot_timestamp.error().out_of_memory;
    return std::nullopt;
  };
  const auto time = within_memory(read_time, [&]() -> std::optional<std::int64_t> {
    last_read_failed_ = true;
    return std::nullopt;
  });
  if (last_read_failed_ || buffer_.capacity() > kLargeLogSize) {
    std::string().swap(buffer_);
    parser_ = json::Parser();
  }
  return time;
}

}  // namespace vexlo
