#include "vexlo/db/log_time_cache.h"

#include <algorithm>
#include <functional>
#include <limits>

namespace vexlo {
namespace {

constexpr std::uint8_t kHasModified = 1;
constexpr std::uint8_t kHasTime = 2;
// The fields after the path in the file.
constexpr std::size_t kFieldsSize = 8 * 3 + 1 + 8 * 5;
constexpr std::size_t kRestartEvery = 64;

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

// Seven bits a byte, the lowest first; the high bit marks a byte to follow.
void put_count(std::string& out, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7) out += static_cast<char>((value & 0x7F) | 0x80);
  out += static_cast<char>(value);
}

std::size_t count_size(std::uint64_t value) {
  std::size_t size = 1;
  for (; value >= 0x80; value >>= 7) ++size;
  return size;
}

std::uint64_t count_at(std::string_view bytes, std::size_t& at) {
  std::uint64_t value = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(bytes[at++]);
    value |= std::uint64_t{byte & 0x7FU} << shift;
    if ((byte & 0x80) == 0) return value;
  }
}

// Signed values as counts, small ones of either sign short.
std::uint64_t zigzag(std::int64_t value) {
  return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
  return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

// In memory a record's fields are counts (see put_count), the optional
// ones only when present: about half the fixed layout of the file, which
// on a tree of a million logs is 30 MB.
template <class Put>
void each_held_field(const FileIdentity& identity, std::optional<std::int64_t> time, const Put& put) {
  put(std::uint64_t{(identity.modified ? kHasModified : 0U) | (time ? kHasTime : 0U)});
  put(identity.device);
  put(identity.inode);
  put(identity.size);
  if (identity.modified) put(zigzag(*identity.modified));
  put(zigzag(identity.modified_nsec));
  put(zigzag(identity.changed));
  put(zigzag(identity.changed_nsec));
  if (time) put(zigzag(*time));
}

void put_held_fields(std::string& out, const FileIdentity& identity, std::optional<std::int64_t> time) {
  each_held_field(identity, time, [&out](std::uint64_t value) { put_count(out, value); });
}

std::size_t held_fields_size(const FileIdentity& identity, std::optional<std::int64_t> time) {
  std::size_t size = 0;
  each_held_field(identity, time, [&size](std::uint64_t value) { size += count_size(value); });
  return size;
}

void put_fields(std::string& out, const FileIdentity& identity, std::optional<std::int64_t> time) {
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

// The fields from `at` on, with the offset after them.
LogTimeCache::HeldRecord fields_at(std::string_view bytes, std::size_t at) {
  const auto field = [&](std::size_t width) {
    const std::uint64_t value = little_endian_at(bytes, at, width);
    at += width;
    return value;
  };
  const auto signed_field = [&] { return static_cast<std::int64_t>(field(8)); };
  LogTimeCache::HeldRecord record;
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
  record.end = at;
  return record;
}

void lay_out_record(std::string& out, std::string_view path, const FileIdentity& identity,
                    std::optional<std::int64_t> time) {
  put_little_endian(out, path.size(), 4);
  out += path;
  put_fields(out, identity, time);
}

// A record as the cache file lays it out, from `offset` on in checked
// records: its path, its fields and the offset of the next.
struct LaidOutRecord {
  std::string_view path;
  FileIdentity identity;
  std::optional<std::int64_t> time;
  std::size_t end;
};

LaidOutRecord read_laid_out(std::string_view records, std::size_t offset) {
  const auto path_length = static_cast<std::size_t>(little_endian_at(records, offset, 4));
  const std::string_view path = records.substr(offset + 4, path_length);
  const LogTimeCache::HeldRecord fields = fields_at(records, offset + 4 + path_length);
  return {path, fields.identity, fields.time, fields.end};
}

}  // namespace

LogTimeCache::Writer LogTimeCache::Writer::counting() {
  Writer writer;
  writer.counting_ = true;
  return writer;
}

void LogTimeCache::Writer::add(std::string_view path, const FileIdentity& identity,
                               std::optional<std::int64_t> time) {
  std::size_t shared = 0;
  if (count_ % kRestartEvery != 0) {
    shared = static_cast<std::size_t>(std::ranges::mismatch(path, last_path_).in1 - path.begin());
  }
  const std::string_view rest = path.substr(shared);
  if (counting_) {
    counted_ += count_size(shared) + count_size(rest.size()) + rest.size() + held_fields_size(identity, time);
  } else {
    put_count(text_, shared);
    put_count(text_, rest.size());
    text_.append(rest);
    put_held_fields(text_, identity, time);
  }
  last_path_.assign(path);
  ++count_;
}

void LogTimeCache::Writer::add_laid_out(std::string_view record) {
  const LaidOutRecord laid_out = read_laid_out(record, 0);
  add(laid_out.path, laid_out.identity, laid_out.time);
}

LogTimeCache::HeldRecord LogTimeCache::read_held(std::size_t offset, std::string* path) const {
  const auto shared = static_cast<std::size_t>(count_at(text_, offset));
  const auto rest = static_cast<std::size_t>(count_at(text_, offset));
  if (path != nullptr) {
    path->resize(shared);
    path->append(text_, offset, rest);
  }
  offset += rest;
  HeldRecord record;
  const auto flags = count_at(text_, offset);
  record.identity.device = count_at(text_, offset);
  record.identity.inode = count_at(text_, offset);
  record.identity.size = count_at(text_, offset);
  if (flags & kHasModified) record.identity.modified = unzigzag(count_at(text_, offset));
  record.identity.modified_nsec = unzigzag(count_at(text_, offset));
  record.identity.changed = unzigzag(count_at(text_, offset));
  record.identity.changed_nsec = unzigzag(count_at(text_, offset));
  if (flags & kHasTime) record.time = unzigzag(count_at(text_, offset));
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

void LogTimeCache::distrust_recent() {
  std::size_t offset = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    const HeldRecord record = read_held(offset, nullptr);
    offset = record.end;
    if (!may_have_changed_unseen(record.identity, scanned_at_)) continue;
    untrusted_.resize(count_);
    untrusted_[i] = true;
  }
}

std::vector<LogTimeCache::Record> LogTimeCache::records() const {
  std::vector<Record> records;
  records.reserve(count_);
  std::string path;
  for (std::size_t i = 0, offset = 0; i < count_; ++i) {
    const HeldRecord record = read_held(offset, &path);
    offset = record.end;
    records.push_back({path, record.identity, record.time});
  }
  return records;
}

std::string LogTimeCache::laid_out() const {
  std::size_t size = 0;
  for (std::size_t i = 0, offset = 0; i < count_; ++i) {
    std::size_t path_offset = offset;
    const auto shared = static_cast<std::size_t>(count_at(text_, path_offset));
    const auto rest = static_cast<std::size_t>(count_at(text_, path_offset));
    size += 4 + shared + rest + kFieldsSize;
    offset = read_held(offset, nullptr).end;
  }
  std::string out;
  out.reserve(size);
  std::string path;
  for (std::size_t i = 0, offset = 0; i < count_; ++i) {
    const HeldRecord record = read_held(offset, &path);
    offset = record.end;
    lay_out_record(out, path, record.identity, record.time);
  }
  return out;
}

void LogTimeCache::replace(std::vector<Record> records, os::Timestamp scanned_at) {
  replace(write([&records](Writer& writer) {
            for (const auto& record : records) writer.add(record.path, record.identity, record.time);
          }),
          scanned_at);
}

void LogTimeCache::replace(Writer records, os::Timestamp scanned_at) {
  text_ = std::move(records.text_);
  count_ = records.count_;
  untrusted_.clear();
  scanned_at_ = scanned_at;
  changed_ = true;
}

void LogTimeCache::Lookup::read_path_at(std::size_t position) {
  const std::size_t restart = position - position % kRestartEvery;
  path_.clear();
  for (std::size_t i = restart, offset = offsets_[restart]; i <= position; ++i) {
    offset = cache_.read_held(offset, &path_).end;
  }
}

std::optional<std::size_t> LogTimeCache::Lookup::position(std::string_view path) {
  if (next_ < cache_.count_) {
    path_ = last_path_;
    (void)cache_.read_held(next_offset_, &path_);
    if (path_ == path) return next_;
  }
  const std::hash<std::string_view> hash;
  if (offsets_.empty() && cache_.count_ != 0) {
    offsets_.reserve(cache_.count_);
    by_hash_.reserve(cache_.count_);
    std::string each;
    for (std::size_t i = 0, offset = 0; i < cache_.count_; ++i) {
      offsets_.push_back(offset);
      offset = cache_.read_held(offset, &each).end;
      by_hash_.emplace_back(hash(each), i);
    }
    std::ranges::sort(by_hash_);
  }
  // Of the records whose path has the hash, the first whose path it is.
  const std::uint64_t wanted = hash(path);
  for (auto it = std::ranges::lower_bound(by_hash_, std::pair(wanted, std::size_t{0}));
       it != by_hash_.end() && it->first == wanted; ++it) {
    read_path_at(it->second);
    if (path_ == path) return it->second;
  }
  return std::nullopt;
}

LogTimeCache::HeldRecord LogTimeCache::Lookup::meet(std::size_t position) {
  const bool in_order = position == next_;
  const HeldRecord record = cache_.read_held(in_order ? next_offset_ : offsets_[position], nullptr);
  next_ = position + 1;
  next_offset_ = record.end;
  last_path_.swap(path_);  // position() left the record's path there
  return record;
}

std::vector<std::uint32_t> LogTimeCache::timed_positions_by_time() const {
  if (count_ > std::numeric_limits<std::uint32_t>::max()) return {};
  std::vector<std::pair<std::int64_t, std::uint32_t>> timed;
  timed.reserve(count_);
  for (std::size_t i = 0, offset = 0; i < count_; ++i) {
    const HeldRecord record = read_held(offset, nullptr);
    if (record.time) timed.emplace_back(*record.time, static_cast<std::uint32_t>(i));
    offset = record.end;
  }
  std::ranges::sort(timed);
  std::vector<std::uint32_t> positions;
  positions.reserve(timed.size());
  for (const auto& [time, position] : timed) positions.push_back(position);
  return positions;
}

std::optional<std::optional<std::int64_t>> LogTimeCache::Lookup::find(std::string_view path,
                                                                      const FileIdentity& identity) {
  const auto found = position(path);
  path_met_ = found;
  if (!found) return std::nullopt;
  const bool in_order = *found == next_;
  const HeldRecord record = meet(*found);
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
