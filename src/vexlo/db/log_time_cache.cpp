#include "vexlo/db/log_time_cache.h"

#include <limits>

namespace vexlo {
namespace {

constexpr std::uint8_t kHasModified = 1;
constexpr std::uint8_t kHasTime = 2;

// Whether the file may have changed again within the time step of its last
// change, after the scan that read it had begun: the same race git guards
// its index against.
bool may_have_changed_unseen(const FileIdentity& identity, os::Timestamp scanned_at) {
  const os::Timestamp changed{identity.changed, identity.changed_nsec};
  // A start too early to step back from, as only a hostile file holds,
  // trusts nothing.
  if (scanned_at.seconds < std::numeric_limits<std::int64_t>::min() + kTimeStepSeconds) return true;
  const os::Timestamp settled{scanned_at.seconds - kTimeStepSeconds, scanned_at.nanoseconds};
  return changed >= settled;
}

void put_little_endian(std::string& out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out += static_cast<char>(value >> (8 * i));
}

std::uint64_t little_endian_at(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  return value;
}

}  // namespace

void LogTimeCache::lay_out(std::string& out, const Record& record) {
  lay_out(out, record.path, record.identity, record.time);
}

void LogTimeCache::lay_out(std::string& out, std::string_view path, const FileIdentity& identity,
                           std::optional<std::int64_t> time) {
  put_little_endian(out, path.size(), 4);
  out += path;
  put_little_endian(out, identity.device, 8);
  put_little_endian(out, identity.inode, 8);
  put_little_endian(out, identity.size, 8);
  std::uint8_t flags = 0;
  if (identity.modified) flags |= kHasModified;
  if (time) flags |= kHasTime;
  out += static_cast<char>(flags);
  put_little_endian(out, static_cast<std::uint64_t>(identity.modified.value_or(0)), 8);
  put_little_endian(out, static_cast<std::uint64_t>(identity.modified_nsec), 8);
  put_little_endian(out, static_cast<std::uint64_t>(identity.changed), 8);
  put_little_endian(out, static_cast<std::uint64_t>(identity.changed_nsec), 8);
  put_little_endian(out, static_cast<std::uint64_t>(time.value_or(0)), 8);
}

LogTimeCache::LaidOutRecord LogTimeCache::read_laid_out(std::string_view records, std::size_t offset) {
  const auto field = [&](std::size_t width) {
    const std::uint64_t value = little_endian_at(records, offset, width);
    offset += width;
    return value;
  };
  const auto signed_field = [&] { return static_cast<std::int64_t>(field(8)); };
  LaidOutRecord record;
  const std::size_t path_length = field(4);
  record.path = records.substr(offset, path_length);
  offset += path_length;
  record.identity.device = field(8);
  record.identity.inode = field(8);
  record.identity.size = field(8);
  const auto flags = static_cast<std::uint8_t>(field(1));
  const std::int64_t modified = signed_field();
  record.identity.modified_nsec = signed_field();
  record.identity.changed = signed_field();
  record.identity.changed_nsec = signed_field();
  const std::int64_t time = signed_field();
  if (flags & kHasModified) record.identity.modified = modified;
  if (flags & kHasTime) record.time = time;
  record.end = offset;
  return record;
}

LogTimeCache LogTimeCache::restore(std::vector<Record> records, os::Timestamp scanned_at) {
  LogTimeCache cache;
  cache.replace(std::move(records), scanned_at);
  cache.changed_ = false;
  cache.distrust_recent();
  return cache;
}

LogTimeCache LogTimeCache::restore_laid_out(std::string text, std::size_t records_at, std::size_t count,
                                            os::Timestamp scanned_at) {
  LogTimeCache cache;
  cache.text_ = std::move(text);
  cache.records_at_ = records_at;
  cache.count_ = count;
  cache.scanned_at_ = scanned_at;
  cache.distrust_recent();
  return cache;
}

void LogTimeCache::distrust_recent() {
  const std::string_view records = laid_out();
  std::size_t offset = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    const LaidOutRecord record = read_laid_out(records, offset);
    offset = record.end;
    if (!may_have_changed_unseen(record.identity, scanned_at_)) continue;
    untrusted_.resize(count_);
    untrusted_[i] = true;
  }
}

std::vector<LogTimeCache::Record> LogTimeCache::records() const {
  std::vector<Record> records;
  records.reserve(count_);
  std::size_t offset = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    LaidOutRecord record = read_laid_out(laid_out(), offset);
    offset = record.end;
    records.push_back({std::string(record.path), record.identity, record.time});
  }
  return records;
}

void LogTimeCache::replace(std::vector<Record> records, os::Timestamp scanned_at) {
  std::size_t size = 0;
  for (const auto& record : records) size += laid_out_size(record.path.size());
  std::string text;
  text.reserve(size);
  for (const auto& record : records) lay_out(text, record);
  replace_laid_out(std::move(text), records.size(), scanned_at);
}

void LogTimeCache::replace_laid_out(std::string text, std::size_t count, os::Timestamp scanned_at) {
  text_ = std::move(text);
  records_at_ = 0;
  count_ = count;
  untrusted_.clear();
  scanned_at_ = scanned_at;
  changed_ = true;
}

std::string_view LogTimeCache::Lookup::path_at(std::size_t i) {
  return read_laid_out(cache_.laid_out(), offsets_[i]).path;
}

std::optional<std::size_t> LogTimeCache::Lookup::position(std::string_view path) {
  const std::string_view records = cache_.laid_out();
  if (next_ < cache_.count_ && read_laid_out(records, next_offset_).path == path) return next_;
  if (offsets_.empty() && cache_.count_ != 0) {
    offsets_.reserve(cache_.count_);
    for (std::size_t i = 0, offset = 0; i < cache_.count_; ++i) {
      offsets_.push_back(offset);
      offset = read_laid_out(records, offset).end;
    }
  }
  return positions_.find(cache_.count_, [this](std::size_t i) { return path_at(i); }, path);
}

LogTimeCache::LaidOutRecord LogTimeCache::Lookup::meet(std::size_t position) {
  const bool in_order = position == next_;
  const LaidOutRecord record = read_laid_out(cache_.laid_out(), in_order ? next_offset_ : offsets_[position]);
  next_ = position + 1;
  next_offset_ = record.end;
  return record;
}

std::optional<std::optional<std::int64_t>> LogTimeCache::Lookup::find(std::string_view path,
                                                                      const FileIdentity& identity) {
  const auto found = position(path);
  if (!found) return std::nullopt;
  const bool in_order = *found == next_;
  const LaidOutRecord record = meet(*found);
  const bool trusted = cache_.untrusted_.empty() || !cache_.untrusted_[*found];
  if (!trusted || record.identity != identity) return std::nullopt;
  if (in_order && answered_in_order_ == *found) ++answered_in_order_;
  return record.time;
}

std::optional<FileIdentity> LogTimeCache::Lookup::identity(std::string_view path) {
  const auto found = position(path);
  if (!found) return std::nullopt;
  return meet(*found).identity;
}

bool LogTimeCache::Lookup::found_all_in_order(std::size_t count) const {
  return count == cache_.count_ && answered_in_order_ == count;
}

}  // namespace vexlo
