#pragma once
// Reading one log file for its time.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "vexlo/json/json.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

// Log files larger than this are read by one thread at a time, so that a
// run's memory stays about its largest log plus a fixed amount, however
// many threads read; smaller ones by any thread.
inline constexpr std::uint64_t kLargeLogSize = std::uint64_t{64} << 20;

// Reads log files for their times one after another with one parser and
// one buffer, so that it allocates for its largest file only, not for
// every file. Readers share nothing: each thread that reads has its own.
class LogTimeReader {
 public:
  // The time of a log file: its top-level "boot_timestamp" when that is a
  // signed 64-bit integer, else `modified`. No value when the file cannot
  // be read, is larger than `max_size` when opened, is not UTF-8 or is not
  // exactly one JSON value. After a file of more than kLargeLogSize the
  // reader lets its memory go, so that only the thread reading a large
  // file holds a large buffer.
  std::optional<std::int64_t> read(const std::string& path, std::int64_t modified,
                                   std::uint64_t max_size = kLargeLogSize);
  // The same for a file already open.
  std::optional<std::int64_t> read(const os::OpenFile& file, std::int64_t modified, std::uint64_t max_size);
  // No value, for a file that could not be opened: a failed read.
  std::nullopt_t unreadable(int os_code = 0) {
    last_read_failed_ = true;
    last_open_error_ = os_code;
    return std::nullopt;
  }
  // Whether the last file could not be opened for lack of descriptors, of
  // the process or of the system: the file itself may be fine.
  bool last_open_short_of_descriptors() const;
  // Whether the last read gave no value because the file could not be read
  // at all (no access, no memory, an I/O error) rather than because its
  // content is no log. Such a verdict may change without the file changing,
  // so it is not kept for later runs.
  bool last_read_failed() const { return last_read_failed_; }

 private:
  json::Parser parser_;
  std::string buffer_;
  bool last_read_failed_ = false;
  int last_open_error_ = 0;
};

}  // namespace vexlo
