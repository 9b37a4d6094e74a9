// Fixed-width little-endian fields, a header with the version, the start
// of the scan the records come from and a checksum of the records, then
// the records in scan order.

#include "vexlo/db/log_time_cache_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

namespace vexlo {
namespace {

constexpr std::string_view kMagic = "vexlo-tc";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 8 + 8 + 8 + 8;
constexpr std::size_t kRecordFixedSize = 4 + 8 * 3 + 1 + 8 * 5;
// Longer than any path the system accepts.
constexpr std::uint32_t kMaxPathLength = 1 << 16;
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

constexpr std::uint8_t kKnownFlags = 1 | 2;  // a modification time, a log time

void put_u64(std::string& out, std::uint64_t value) {
  std::array<char, 8> bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  out.append(bytes.data(), bytes.size());
}

void put_u32(std::string& out, std::uint32_t value) {
  std::array<char, 4> bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  out.append(bytes.data(), bytes.size());
}

void put_i64(std::string& out, std::int64_t value) { put_u64(out, static_cast<std::uint64_t>(value)); }

// Catches a file cut short or changed by accident, not by intent: only the
// tool writes in ".config". Taken over bytes that come in pieces of any
// size, as whole little-endian words and then the rest with the length.
class Checksum {
 public:
  explicit Checksum(std::uint64_t seed = 0x6a09e667f3bcc909) : hash_(seed) {}

  void add(std::string_view bytes) {
    length_ += bytes.size();
    std::size_t i = 0;
    for (; i < bytes.size() && pending_bytes_ != 0; ++i) take_byte(bytes[i]);
    for (; i + 8 <= bytes.size(); i += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data() + i, sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
      mix(hash_, word);
    }
    for (; i < bytes.size(); ++i) take_byte(bytes[i]);
  }

  std::uint64_t value() const {
    std::uint64_t hash = hash_;
    // The length, so that trailing zeros count.
    mix(hash, length_ ^ (pending_ << 8));
    return hash ^ (hash >> 31);
  }

 private:
  static void mix(std::uint64_t& hash, std::uint64_t word) { hash = std::rotl(hash ^ word, 29) * 0x9e3779b97f4a7c15; }
  void take_byte(char byte) {
    pending_ |= std::uint64_t{static_cast<unsigned char>(byte)} << (8 * pending_bytes_);
    if (++pending_bytes_ < 8) return;
    mix(hash_, pending_);
    pending_ = 0;
    pending_bytes_ = 0;
  }

  std::uint64_t hash_;
  std::uint64_t length_ = 0;
  std::uint64_t pending_ = 0;
  std::size_t pending_bytes_ = 0;
};

// The checksum's seed for the records: that of the header before the
// checksum.
std::uint64_t header_checksum(std::string_view header) {
  Checksum sum;
  sum.add(header.substr(0, kHeaderSize - 8));
  return sum.value();
}

// Takes fields from the front of the text; any read past its end fails
// every later read as well.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool ok() const { return ok_; }

  std::uint64_t u64() { return unsigned_field(8); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(unsigned_field(4)); }
  std::uint8_t u8() { return static_cast<std::uint8_t>(unsigned_field(1)); }
  std::int64_t i64() { return static_cast<std::int64_t>(unsigned_field(8)); }
  std::string_view bytes(std::size_t count) {
    if (!take(count)) return {};
    const std::string_view field = text_.substr(0, count);
    text_.remove_prefix(count);
    return field;
  }

 private:
  bool take(std::size_t count) {
    if (ok_ && count <= text_.size()) return true;
    ok_ = false;
    return false;
  }
  std::uint64_t unsigned_field(std::size_t width) {
    if (!take(width)) return 0;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{static_cast<unsigned char>(text_[i])} << (8 * i);
    text_.remove_prefix(width);
    return value;
  }

  std::string_view text_;
  bool ok_ = true;
};

bool is_nanoseconds(std::int64_t value) { return value >= 0 && value < kNanosecondsPerSecond; }

// Whether the fields after a record's path hold what the cache's reading
// in place trusts.
bool valid_fields(std::string_view fields) {
  Reader in(fields);
  in.bytes(8 * 3);  // device, inode, size: any value
  const std::uint8_t flags = in.u8();
  in.i64();  // modified: any value
  const std::int64_t modified_nsec = in.i64();
  in.i64();  // changed: any value
  const std::int64_t changed_nsec = in.i64();
  in.i64();  // time: any value
  return in.ok() && (flags & ~kKnownFlags) == 0 && is_nanoseconds(modified_nsec) && is_nanoseconds(changed_nsec);
}

std::uint32_t u32_at(std::string_view bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  return value;
}

// The records of a cache file, read after its header piece by piece, so
// that the file is never held whole beside the records made of it, with
// the checksum of every byte read.
class RecordPieces {
 public:
  RecordPieces(const ReadFileAt& read_at, std::size_t piece, std::uint64_t seed)
      : read_at_(read_at), piece_(std::max<std::size_t>(piece, 1)), checksum_(seed) {}

  // The next record, whole and valid, or none.
  std::optional<std::string_view> next() {
    if (!fill(4)) return std::nullopt;
    const std::uint32_t path_length = u32_at(std::string_view(window_).substr(at_));
    if (path_length == 0 || path_length > kMaxPathLength) return std::nullopt;
    const std::size_t size = kRecordFixedSize + path_length;
    if (!fill(size)) return std::nullopt;
    const std::string_view record = std::string_view(window_).substr(at_, size);
    if (!valid_fields(record.substr(4 + path_length))) return std::nullopt;
    at_ += size;
    return record;
  }

  // Whether the file ends after the records taken.
  bool at_end() { return !fill(1) && !failed_; }
  std::uint64_t checksum() const { return checksum_.value(); }

 private:
  // Whether `count` bytes from at_ on are at hand, reading more as needed.
  bool fill(std::size_t count) {
    while (window_.size() - at_ < count) {
      if (ended_ || failed_) return false;
      window_.erase(0, at_);
      at_ = 0;
      const std::size_t held = window_.size();
      window_.resize(held + std::max(piece_, count - held));
      const auto read = read_at_(offset_, std::span(window_).subspan(held));
      window_.resize(held + (read ? *read : 0));
      if (!read) failed_ = true;
      if (!read || *read == 0) ended_ = true;
      if (!read) return false;
      checksum_.add(std::string_view(window_).substr(held));
      offset_ += *read;
    }
    return true;
  }

  const ReadFileAt& read_at_;
  std::size_t piece_;
  Checksum checksum_;
  std::string window_;
  std::size_t at_ = 0;
  std::uint64_t offset_ = kHeaderSize;
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace

std::string log_time_cache_header(const LogTimeCache& cache, std::string_view records) {
  std::string out;
  out.reserve(kHeaderSize);
  out += kMagic;
  put_u32(out, kVersion);
  put_u32(out, 0);
  put_i64(out, cache.scanned_at().seconds);
  put_i64(out, cache.scanned_at().nanoseconds);
  put_u64(out, cache.size());
  Checksum sum(header_checksum(out));
  sum.add(records);
  put_u64(out, sum.value());
  return out;
}

std::string encode_log_time_cache(const LogTimeCache& cache) {
  const std::string records = cache.laid_out();
  return log_time_cache_header(cache, records) + records;
}

std::optional<LogTimeCache> decode_log_time_cache(std::uint64_t size, const ReadFileAt& read_at, std::size_t piece) {
  std::string header(kHeaderSize, '\0');
  for (std::size_t held = 0; held < header.size();) {
    const auto read = read_at(held, std::span(header).subspan(held));
    if (!read || *read == 0) return std::nullopt;
    held += *read;
  }
  Reader in(header);
  if (in.bytes(kMagic.size()) != kMagic || in.u32() != kVersion || in.u32() != 0) return std::nullopt;
  const os::Timestamp scanned_at{in.i64(), in.i64()};
  const std::uint64_t count = in.u64();
  const std::uint64_t expected_checksum = in.u64();
  if (!in.ok() || !is_nanoseconds(scanned_at.nanoseconds)) return std::nullopt;
  if (size < kHeaderSize || count > (size - kHeaderSize) / kRecordFixedSize) return std::nullopt;
  // The records must be whole, valid and as the checksum says, or there is
  // no cache. Held in memory they take less room than in the file.
  bool intact = true;
  auto cache = LogTimeCache::restore_written(
      [&](LogTimeCache::Writer& records) {
        RecordPieces pieces(read_at, piece, header_checksum(header));
        for (std::uint64_t i = 0; i < count && intact; ++i) {
          const auto record = pieces.next();
          if (record) records.add_laid_out(*record);
          intact = record.has_value();
        }
        intact = intact && pieces.at_end() && pieces.checksum() == expected_checksum;
      },
      static_cast<std::size_t>(size - kHeaderSize), scanned_at);
  if (!intact) return std::nullopt;
  return cache;
}

std::optional<LogTimeCache> decode_log_time_cache(std::string_view text, std::size_t piece) {
  const ReadFileAt read_at = [text](std::uint64_t offset, std::span<char> into) -> Result<std::size_t> {
    const std::string_view part = text.substr(std::min<std::uint64_t>(offset, text.size()), into.size());
    std::copy(part.begin(), part.end(), into.begin());
    return part.size();
  };
  return decode_log_time_cache(text.size(), read_at, piece);
}

}  // namespace vexlo
