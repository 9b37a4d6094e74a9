#pragma once
// The tool's database of known log files: a stable numeric ID per path,
// kept in "<log root>/.config/vexlo-db.json".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/db/file_entry.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/db/log_time_cache.h"
#include "vexlo/db/path_index.h"
#include "vexlo/db/root_spelling.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_lock.h"
#include "vexlo/os/temporary_file.h"

namespace vexlo {

struct ScanNotes;

struct OpenOptions {
  // How long to wait for other runs on the same database, and what to do
  // when the wait grows long. A run that cannot have the lock in time
  // goes on without saving.
  os::LockWait lock_wait;
};

// Move-only: an open database holds the database directory open and the
// lock that keeps other runs from loading it until this run has saved.
class Database {
 public:
  // Creates "<log_root>/.config" (with missing parents) and opens it, never
  // through a link (ELOOP when ".config" is one), waits for other runs on
  // the same database to finish and loads the database file and the log
  // time cache; a missing or damaged file gives an empty database, a
  // missing or unusable cache file an empty cache. The counter starts above
  // every ID the file holds, or, for a damaged file, every ID still legible
  // in it.
  static Result<Database> open(const std::string& log_root, const OpenOptions& options = {});
  // Loads the database file if it can be read, and nothing else: no
  // directory is made, no lock taken, and neither sync nor save ever
  // writes. A missing or unreadable file gives an empty database.
  static Database open_read_only(const std::string& log_root);

  // Replaces the whole database file so that a crash leaves either the old
  // or the new file, never a mix, and the log time cache file when the
  // cache changed; then lets other runs in. Nothing else writes either
  // file. A damaged database file is first kept under a name of its own
  // (see kept_damaged_file); when that fails the database file is not
  // written (the cache still is). Nothing at all is written when the lock
  // could not be had, or when a database file is there that could not be
  // read (no permission, say): its IDs are unknown, so it is neither
  // replaced nor kept aside, and the error is that of reading it.
  Status save();
  // Brings the entries in line with the log files below `log_root` and
  // saves. A failed scan leaves entries, counter and file as they were. A
  // failed save takes back the IDs it would have handed out (an ID shown
  // but not saved would name another file in the next run): the entries
  // hold only IDs the loaded database holds. Opened read-only, it only
  // drops the entries whose files the scan did not find, and hands out no
  // IDs.
  Status sync(const std::string& log_root);
  // Whether the last sync got as far as saving: its scan did not fail.
  bool scan_completed() const { return scan_completed_; }

  // scan_log_files through the log time cache as the synchronisation
  // left it: a file unchanged since the last scan, of this run or of the
  // run before, is not read again. The cache stays as it is: nothing would
  // save what a later scan learns. With `notes`, see scan_log_files.
  Status scan(const std::string& log_root, std::vector<FileEntry>& entries, ScanNotes* notes = nullptr) const;

  // The first entry with the ID; never one for 0, which is no ID.
  const FileEntry* find_by_id(std::uint64_t id) const;
  // The first entry whose path equals `path` byte for byte.
  const FileEntry* find_by_path(std::string_view path) const;
  // The entry of the file at `path`, as this run's scan spells it, whose
  // entry may spell the log root otherwise (see RootSpelling).
  const FileEntry* find_by_run_path(std::string_view path) const;

  // Finds, one after another, the entries of distinct paths. While each
  // path is that of the entry after the one found before, from the first
  // on, no other entry can hold it first and no index is needed: a scan of
  // a tree that has not changed, asked in time order, meets the entries in
  // the order they were saved. After the first other path, it is
  // find_by_path.
  class PathsInTurn {
   public:
    explicit PathsInTurn(const Database& database) : database_(database) {}
    const FileEntry* find(std::string_view path);
    // The same for a path as this run's scan spells it.
    const FileEntry* find_run_path(std::string_view path);

   private:
    const Database& database_;
    std::size_t next_ = 0;
    bool in_turn_ = true;
  };
  // The entry's path as this run spells the log root.
  std::string path_for_run(const FileEntry& entry) const { return spelling_.for_run(entry.path); }
  // The same as the bytes to open: a path that is not UTF-8 is held as a
  // text with U+FFFD, which names no file; this run's synchronisation
  // found the bytes it stands for.
  std::string system_path_for_run(const FileEntry& entry) const;

  // Gives a database that has no "instance" (see DatabaseContent) a new
  // one, which the next save writes. Nothing for a read-only database.
  Status give_instance();
  // The instance the database file holds: loaded, or written by this run's
  // save; empty when it holds none.
  std::string_view saved_instance() const { return instance_saved_ ? std::string_view(instance_) : std::string_view(); }

  const std::vector<FileEntry>& files() const { return files_; }
  std::uint64_t next_file_id() const { return next_file_id_; }
  const std::string& db_path() const { return db_path_; }
  // Why the log time cache is not used: the text naming ".config" or the
  // cache file and its owner, when one of them is not the running user's
  // own or others may write it. The cache is then neither read nor written:
  // anyone who could write there could forge the times and hide a log.
  const std::optional<std::string>& log_time_cache_distrust() const { return cache_distrust_; }
  // Why the IDs read may not be the ones vexlo gave: the text naming
  // ".config" and its owner, when it is not the running user's own (or
  // root's) or others may write it. The IDs are still used, as there are
  // no others, but whoever could write there could have swapped them.
  const std::optional<std::string>& ids_distrust() const { return config_distrust_; }
  // Whether this writing run found no database file where another user
  // could have removed it: in a log root or ".config" that others may
  // write, a missing file is no proof of a first run. Its sync numbers
  // every log file from 1 again.
  bool may_have_been_reset() const {
    return !read_only_ && file_missing_ && (others_write_root_ || config_distrust_.has_value());
  }
  // A small file of the run's own in ".config" (a name of config_files.h)
  // that is trusted as the log time cache is: its bytes, or nothing when it
  // is missing, larger than `max_size`, a link, or neither the directory
  // nor the file may be trusted. Writing replaces it whole, readable by
  // its owner only; it fails when opened read-only or not trusted.
  std::optional<std::string> read_private_file(std::string_view name, std::uint64_t max_size) const;
  Status write_private_file(std::string_view name, std::string_view text) const;
  // The directories the last sync could not enter, with the reasons.
  const std::vector<PassedOverDirectory>& passed_over() const { return passed_over_; }
  // Where this run's save kept the damaged database file it replaced; empty
  // when it kept none.
  const std::string& kept_damaged_file() const { return kept_damaged_file_; }
  // Whether open found no log root and made it: a mistyped path looks
  // just like an empty log tree.
  bool created_log_root() const { return created_log_root_; }

 private:
  Database() = default;
  Status write_database_file(const os::ContentPieces& text);
  void load(const std::string& log_root);
  Status keep_damaged_database_file();
  void write_log_time_cache();
  void forget_ids_from(std::uint64_t first_new_id);
  // The paths of the last synchronisation's scan, for a scan to share
  // rather than copy, and with `search_entries` the entries' paths too.
  KnownPathTexts held_path_texts(bool search_entries) const;
  std::vector<SharedText> entry_paths_by_cache_record() const;
  // The entries after a completed scan found `entries`: IDs kept for known
  // paths, new ones given, unreadable and passed-over files kept.
  std::vector<FileEntry> entries_after_scan(std::vector<FileEntry> entries, ScanNotes& notes);

  std::optional<os::Directory> config_dir_;  // none only when opened read-only without one
  std::string db_path_;
  std::vector<FileEntry> files_;
  std::vector<SharedText> scan_order_;  // the paths the last sync's scan found, in its order
  std::uint64_t next_file_id_ = 1;
  std::string instance_;
  bool instance_saved_ = false;
  bool damaged_ = false;  // the file at db_path_ exists but did not load
  std::optional<Error> read_error_;  // the file at db_path_ exists but could not be read
  bool file_missing_ = false;        // no file at db_path_ when loaded
  bool others_write_root_ = false;   // the log root is not the running user's (or root's) alone
  bool scan_completed_ = false;
  std::string kept_damaged_file_;
  mutable PathIndex path_index_;  // over files_, built on first lookup
  RootSpelling spelling_;         // how files_ spell the run's log root
  LogTimeCache log_times_;        // of the latest scan
  std::optional<std::string> config_distrust_;
  std::optional<std::string> cache_distrust_;
  std::vector<PassedOverDirectory> passed_over_;
  SystemPaths system_paths_;  // of the synchronisation's scan
  os::FileLock lock_;             // held from loading until the end of the save
  std::optional<Error> lock_error_;  // why the lock is not held: nothing is saved
  bool read_only_ = false;
  bool created_log_root_ = false;
};

}  // namespace vexlo
