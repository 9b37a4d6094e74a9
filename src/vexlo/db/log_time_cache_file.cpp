// Fixed-width little-endian fields, a header with the version, the start
// of the scan the records come from and a checksum of the records, then
// the records in scan order.

#include "vexlo/db/log_time_cache_file.h"

#include <array>
#include <bit>
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
// tool writes in ".config".
std::uint64_t checksum(std::string_view bytes, std::uint64_t hash = 0x6a09e667f3bcc909) {
  const auto mix = [&hash](std::uint64_t word) {
    hash = std::rotl(hash ^ word, 29) * 0x9e3779b97f4a7c15;
  };
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word = 0;
    for (std::size_t b = 0; b < 8; ++b) word |= std::uint64_t{static_cast<unsigned char>(bytes[i + b])} << (8 * b);
    mix(word);
  }
  std::uint64_t tail = bytes.size();  // the length, so that trailing zeros count
  for (std::size_t b = 0; i + b < bytes.size(); ++b) {
    tail ^= std::uint64_t{static_cast<unsigned char>(bytes[i + b])} << (8 * (b + 1));
  }
  mix(tail);
  return hash ^ (hash >> 31);
}

// Of the header before the checksum and of the records after it.
std::uint64_t checksum_of_file(std::string_view text) {
  return checksum(text.substr(kHeaderSize), checksum(text.substr(0, kHeaderSize - 8)));
}

// Takes fields from the front of the text; any read past its end fails
// every later read as well.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool ok() const { return ok_; }
  std::size_t remaining() const { return text_.size(); }

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

// Takes one record, checking every field that the cache's reading in place
// trusts; false when the record is not whole or not valid.
bool take_record(Reader& in) {
  const std::uint32_t path_length = in.u32();
  if (path_length == 0 || path_length > kMaxPathLength) return false;
  in.bytes(path_length);
  in.bytes(8 * 3);  // device, inode, size: any value
  const std::uint8_t flags = in.u8();
  in.i64();  // modified: any value
  const std::int64_t modified_nsec = in.i64();
  in.i64();  // changed: any value
  const std::int64_t changed_nsec = in.i64();
  in.i64();  // time: any value
  return in.ok() && (flags & ~kKnownFlags) == 0 && is_nanoseconds(modified_nsec) && is_nanoseconds(changed_nsec);
}

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
  put_u64(out, checksum(records, checksum(out)));
  return out;
}

std::string encode_log_time_cache(const LogTimeCache& cache) {
  const std::string records = cache.laid_out();
  return log_time_cache_header(cache, records) + records;
}

std::optional<LogTimeCache> decode_log_time_cache(std::string text) {
  Reader in(text);
  if (in.bytes(kMagic.size()) != kMagic || in.u32() != kVersion || in.u32() != 0) return std::nullopt;
  const os::Timestamp scanned_at{in.i64(), in.i64()};
  const std::uint64_t count = in.u64();
  const std::uint64_t expected_checksum = in.u64();
  if (!in.ok() || !is_nanoseconds(scanned_at.nanoseconds)) return std::nullopt;
  if (count > in.remaining() / kRecordFixedSize) return std::nullopt;
  if (checksum_of_file(text) != expected_checksum) return std::nullopt;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (!take_record(in)) return std::nullopt;
  }
  if (in.remaining() != 0) return std::nullopt;
  return LogTimeCache::restore_laid_out(text, kHeaderSize, count, scanned_at);
}

}  // namespace vexlo
