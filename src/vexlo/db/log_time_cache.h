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
#include <vector>

#include "vexlo/db/path_index.h"
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

  LogTimeCache() = default;
  // The records a scan that started at `scanned_at` left, as a later run
  // finds them: those that may have changed unseen are read again.
  static LogTimeCache restore(std::vector<Record> records, os::Timestamp scanned_at);
  // The same from `count` records laid out as the cache file lays them,
  // from `records_at` in `text` on, already checked to be whole and valid.
  // The text is kept and read in place: a record costs no more than its
  // bytes in the file.
  static LogTimeCache restore_laid_out(std::string text, std::size_t records_at, std::size_t count,
                                       os::Timestamp scanned_at);

  std::size_t size() const { return count_; }
  // The records copied out, in order.
  std::vector<Record> records() const;
  // The records as the cache file lays them out.
  std::string_view laid_out() const { return std::string_view(text_).substr(records_at_); }
  os::Timestamp scanned_at() const { return scanned_at_; }
  // Whether the records differ from those restored or last saved.
  bool changed() const { return changed_; }
  void mark_saved() { changed_ = false; }

  // Takes the records of a completed scan that started at `scanned_at`, in
  // its order, in place of records that differ from them.
  void replace(std::vector<Record> records, os::Timestamp scanned_at);
  // The same from `count` records laid out (see lay_out) in `text`, which
  // a scan writes without holding each record apart first.
  void replace_laid_out(std::string text, std::size_t count, os::Timestamp scanned_at);

  // One record's fields as laid out in the file, with the offset of the
  // next record.
  struct LaidOutRecord {
    std::string_view path;
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
    // True when every one of `count` files asked about was answered, one
    // after another in the records' order, and there are no other records:
    // the scan found what the cache holds.
    bool found_all_in_order(std::size_t count) const;

   private:
    std::optional<std::size_t> position(std::string_view path);
    // The record at `position`, which becomes the one met last.
    LaidOutRecord meet(std::size_t position);
    std::string_view path_at(std::size_t i);

    const LogTimeCache& cache_;
    std::size_t next_ = 0;          // the record after the one met last
    std::size_t next_offset_ = 0;   // where it starts in the laid-out records
    std::size_t answered_in_order_ = 0;
    std::vector<std::size_t> offsets_;  // of every record, made with positions_
    PathIndex positions_;  // built only when a file is not met in order
  };

  // The record from `offset` on in checked records.
  static LaidOutRecord read_laid_out(std::string_view records, std::size_t offset);
  // Appends `record` laid out as in the file.
  static void lay_out(std::string& out, const Record& record);
  static void lay_out(std::string& out, std::string_view path, const FileIdentity& identity,
                      std::optional<std::int64_t> time);
  // The bytes lay_out takes for a record with a path of `path_length`.
  static constexpr std::size_t laid_out_size(std::size_t path_length) { return 4 + 8 * 3 + 1 + 8 * 5 + path_length; }

 private:
  void distrust_recent();

  std::string text_;  // records_at_ on: the records laid out
  std::size_t records_at_ = 0;
  std::size_t count_ = 0;
  // Records that must not be trusted; same length as records_, or empty
  // when all are trusted.
  std::vector<bool> untrusted_;
  os::Timestamp scanned_at_;
  bool changed_ = false;
};

}  // namespace vexlo
