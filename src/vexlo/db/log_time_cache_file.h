#pragma once
// The layout of the file that keeps the log time cache from one run to the
// next (described in docs/log-time-cache.md). Loading accepts whatever the
// file holds: anything that is not a whole, intact file of this version
// gives no cache at all.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vexlo/common/error.h"
#include "vexlo/db/file_pieces.h"
#include "vexlo/db/log_time_cache.h"

namespace vexlo {

// A cache file larger than this, for a database of `entries` entries, is
// not read: a record takes about 100 bytes with its path, and the files
// found since the database was saved take their share of the fixed part.
constexpr std::uint64_t max_log_time_cache_size(std::size_t entries) {
  return 256 * std::uint64_t{entries} + (std::uint64_t{1} << 20);
}

std::string encode_log_time_cache(const LogTimeCache& cache);
// The part of that file before `records`, the cache's records as
// LogTimeCache::laid_out() gives them.
std::string log_time_cache_header(const LogTimeCache& cache, std::string_view records);

// Bytes of a cache file read at once.
inline constexpr std::size_t kCachePieceSize = std::size_t{1} << 18;

// The cache a file of `size` bytes holds, read through `read_at` in pieces
// of `piece` bytes, so that the file is never held whole; none when it is
// of another version, cut short, damaged or otherwise not what
// encode_log_time_cache writes.
std::optional<LogTimeCache> decode_log_time_cache(std::uint64_t size, const ReadFileAt& read_at,
                                                  std::size_t piece = kCachePieceSize);
// The same of a file's text.
std::optional<LogTimeCache> decode_log_time_cache(std::string_view text, std::size_t piece = kCachePieceSize);

}  // namespace vexlo
