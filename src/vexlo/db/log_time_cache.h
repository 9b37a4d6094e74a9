#pragma once
// The times of the log files as the last scan found them. The database
// keeps them from one run to the next in a file of their own beside the
// database file, so that a run reads only the log files that changed since
// the run before, and the listing's scan reads only those that changed
// since the synchronisation's scan.
//
// A file counts as unchanged while its path, device, inode, size,
// modification time and change time (with nanoseconds) are the same as
// when it was read. Only the time found (or that the file is no log file)
// is kept, never the content.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vexlo/os/file_system.h"

namespace vexlo {

// What a record was read from: os::FileStatus::version() of the file.
using FileIdentity = os::FileVersion;

// File systems stamp times in steps of up to two seconds and from a clock
// that lags the one the tool reads. A file may change again within the
// step of its last change without its identity showing it; so a file whose
// change time lies less than this before the start of the scan that read
// it is read again by the next run, as is one whose change time lies after
// that start.
inline constexpr std::int64_t kTimeStepSeconds = 2;

class LogTimeCache {
 public:
  struct Record {
    std::string path;
    FileIdentity identity;             // of the file before it was read
    std::optional<std::int64_t> time;  // none: no log file
  };

  // Records held as the cache holds them, added in a scan's order.
  class Writer {
   public:
    // A writer that only counts the bytes the records would take, so that
    // another can take room for them at once.
    static Writer counting();
    std::size_t bytes() const { return counting_ ? counted_ : text_.size(); }
    void reserve(std::size_t bytes) { text_.reserve(bytes); }
    void add(std::string_view path, const FileIdentity& identity, std::optional<std::int64_t> time);
    // Adds one record laid out as the cache file lays it out, already
    // checked to be whole and valid.
    void add_laid_out(std::string_view record);

   private:
    friend class LogTimeCache;
    std::string text_;
    std::string last_path_;
    std::size_t count_ = 0;
    bool counting_ = false;
    std::size_t counted_ = 0;
  };
  // The records `add_all` hands a writer, in room taken for them at once.
  template <class AddAll>
  static Writer write(const AddAll& add_all) {
    Writer counter = Writer::counting();
    add_all(counter);
    Writer writer;
    writer.reserve(counter.bytes());
    add_all(writer);
    return writer;
  }

  LogTimeCache() = default;
  // The records a scan that started at `scanned_at` left, as a later run
  // finds them: those that may have changed unseen are read again.
  static LogTimeCache restore(std::vector<Record> records, os::Timestamp scanned_at);
  // The same from the records `add_all` hands, in one call, to a writer
  // with room for `room` bytes, which it leaves no larger than they need.
  // Room taken but never written is address space, not memory.
  template <class AddAll>
  static LogTimeCache restore_written(const AddAll& add_all, std::size_t room, os::Timestamp scanned_at) {
    Writer writer;
    writer.reserve(room);
    add_all(writer);
    writer.text_.shrink_to_fit();
    LogTimeCache cache;
    cache.replace(std::move(writer), scanned_at);
    cache.changed_ = false;
    cache.distrust_recent();
    return cache;
  }

  std::size_t size() const { return count_; }
  // The positions of the records that hold a time, ordered by the time and,
  // among equal times, by position; none when there are more than 32 bits
  // can count.
  std::vector<std::uint32_t> timed_positions_by_time() const;
  // The records copied out, in order.
  std::vector<Record> records() const;
  // The records as the cache file lays them out.
  std::string laid_out() const;
  os::Timestamp scanned_at() const { return scanned_at_; }
  // Whether the records differ from those restored or last saved.
  bool changed() const { return changed_; }
  void mark_saved() { changed_ = false; }

  // Takes the records of a completed scan that started at `scanned_at`, in
  // its order, in place of records that differ from them.
  void replace(std::vector<Record> records, os::Timestamp scanned_at);
  // The same from the records a scan wrote.
  void replace(Writer records, os::Timestamp scanned_at);

  // One record's fields, with the offset of the next record.
  struct HeldRecord {
    FileIdentity identity;
    std::optional<std::int64_t> time;
    std::size_t end;
  };

  // One scan's questions to the cache, in the scan's order. Scans of an
  // unchanged tree meet the files in the same order, so that the records
  // are met one after another without a search.
  class Lookup {
   public:
    explicit Lookup(const LogTimeCache& cache) : cache_(cache) {}
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    // The time known for the file at `path`, when the cache knows the file
    // in the state `identity` describes: a value that is itself empty for a
    // file that is no log file.
    std::optional<std::optional<std::int64_t>> find(std::string_view path, const FileIdentity& identity);
    // The identity recorded for the file at `path`, asked in the same
    // order: what a scan learns again of the files it found known.
    std::optional<FileIdentity> identity(std::string_view path);
    // The position of the record whose path the last find() asked about,
    // whether or not it answered: none when no record has that path.
    std::optional<std::size_t> path_met() const { return path_met_; }
    // True when every one of `count` files asked about was answered, one
    // after another in the records' order, and there are no other records:
    // the scan found what the cache holds.
    bool found_all_in_order(std::size_t count) const;

   private:
    std::optional<std::size_t> position(std::string_view path);
    // The record at `position`, which becomes the one met last.
    HeldRecord meet(std::size_t position);
    // The path of the record at `position`, in path_.
    void read_path_at(std::size_t position);

    const LogTimeCache& cache_;
    std::size_t next_ = 0;          // the record after the one met last
    std::size_t next_offset_ = 0;   // where it starts in the held records
    std::string last_path_;         // of the record met last
    std::string path_;              // of a record looked at
    std::size_t answered_in_order_ = 0;
    std::optional<std::size_t> path_met_;
    // Made only when a file is not met in order: where every record
    // starts, and the records by the hash of their path.
    std::vector<std::size_t> offsets_;
    std::vector<std::pair<std::uint64_t, std::size_t>> by_hash_;
  };


 private:
  void distrust_recent();
  // The record held from `offset` on. With `path`, which holds the path of
  // the record before (any text before a record that holds its whole
  // path), the record's path is put there.
  HeldRecord read_held(std::size_t offset, std::string* path) const;

  // The records as the file lays them out, but for each path: the bytes
  // it shares with the path before, as a count, then the rest. A scan
  // meets the files of a directory together, so that a path mostly
  // differs from the one before only in its name. Every 64th record holds
  // its whole path, so that any record can be read from at most 63 before
  // it.
  std::string text_;
  std::size_t count_ = 0;
  // Records that must not be trusted; same length as records_, or empty
  // when all are trusted.
  std::vector<bool> untrusted_;
  os::Timestamp scanned_at_;
  bool changed_ = false;
};

}  // namespace vexlo
