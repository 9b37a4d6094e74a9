// Opening, saving and querying the database.
//
// The database file is replaced whole: the new text goes to a temporary
// file beside it, is flushed to stable storage and renamed over the old
// file, so that a run killed at any moment, or a full disk, leaves either
// the old or the new database. Where no temporary file can be made (a
// ".config" that is not writable while the database file is), the file is
// rewritten in place instead.
//
// The log time cache is replaced the same way, without the flush: a cache
// that a crash leaves damaged fails its checksum and is rebuilt, which
// costs one full read of the log files and nothing else.
//
// A run holds an advisory lock on ".config" from loading to the end of its
// save, so that overlapping runs take turns and never hand out the same ID
// twice. On a file system without locks the run goes on without one.
//
// A database file that is there but does not load is not silently
// replaced: the save first gives it a second name ("vexlo-db.json.damaged",
// then ".damaged.1" and up) and new IDs start above every ID still legible
// in it, so that an ID written down before the damage never comes to mean
// another file.

#include "vexlo/db/database.h"

#include <cerrno>

#include "vexlo/common/utf8.h"
#include "vexlo/db/database_file.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/db/log_time_cache_file.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/temporary_file.h"

namespace vexlo {
namespace {

constexpr std::string_view kDatabaseFileName = "vexlo-db.json";
constexpr std::string_view kTemporaryPrefix = "vexlo-db.json.tmp.";
constexpr std::string_view kDamagedSuffix = ".damaged";
constexpr unsigned kMaxKeptDamagedFiles = 1000;
constexpr std::string_view kCacheTemporaryPrefix = "vexlo-cache.tmp.";

// Temporary files of runs that were killed before their rename.
void remove_stale_temporary_files(const std::string& config_dir) {
  auto names = os::list_directory(config_dir);
  if (!names) return;
  for (const auto& name : *names) {
    if (name.starts_with(kTemporaryPrefix) || name.starts_with(kCacheTemporaryPrefix)) {
      (void)os::remove_file(os::join_path(config_dir, name));
    }
  }
}

// Whatever the cache file holds, if it is a cache: a missing, unreadable,
// oversized or damaged file, a link, or one of another version gives an
// empty cache, which the next save replaces.
LogTimeCache load_log_time_cache(const std::string& path) {
  auto text = os::read_regular_file_no_follow(path, kMaxLogTimeCacheFileSize);
  if (!text) return {};
  auto cache = decode_log_time_cache(*text);
  if (!cache) return {};
  return std::move(*cache);
}

// A new file in place of the old one; on failure the old one stays. The
// rename replaces a link at `path` itself, never its target.
Status replace_file(const std::string& directory, std::string_view temporary_prefix, const std::string& path,
                    std::string_view text) {
  auto temporary = os::TemporaryFile::create(directory, temporary_prefix);
  if (!temporary) return std::unexpected(temporary.error());
  if (auto written = temporary->write_all(text); !written) return written;
  return temporary->commit(path);
}

// Rewriting in place on a full disk would leave a truncated database.
bool may_rewrite_in_place(const Error& temporary_failure) {
  return temporary_failure.os_code != ENOSPC && temporary_failure.os_code != EDQUOT;
}

// Whether a failed read of the database file means that a file is there
// which did not load, rather than none at all (or a directory, which no
// save replaces).
bool names_unloadable_file(const Error& read_error) {
  return read_error.os_code != ENOENT && read_error.os_code != ENOTDIR && read_error.os_code != EISDIR;
}

// The database file's bytes as a loaded database whose counter lies above
// every ID they hold. A damaged file gives no entries.
LoadedDatabase load_database_bytes(std::string_view bytes) {
  LoadedDatabase loaded;
  if (is_valid_utf8(bytes)) {
    loaded = load_database(bytes);
  } else {
    loaded.damaged = true;
  }
  if (loaded.damaged) {
    loaded.content = DatabaseContent{{}, salvage_counter(bytes)};
  } else {
    loaded.content.next_file_id = counter_above(loaded.content.files, loaded.content.next_file_id);
  }
  return loaded;
}

// Gives the file at `path` a second name that no file had before,
// "<path>.damaged" or "<path>.damaged.N" with the lowest free N, so that
// replacing the file leaves its bytes behind under that name. A hard link
// never follows a symbolic link, never replaces another file and needs no
// read access to the file.
Result<std::string> keep_damaged_file(const std::string& path) {
  const std::string first_name = path + std::string(kDamagedSuffix);
  for (unsigned number = 0; number < kMaxKeptDamagedFiles; ++number) {
    std::string name = number == 0 ? first_name : first_name + "." + std::to_string(number);
    auto linked = os::link_file(path, name);
    if (linked) return name;
    if (linked.error().os_code != EEXIST) return std::unexpected(linked.error());
  }
  return std::unexpected(os::os_error(EEXIST));
}

}  // namespace

Result<Database> Database::open(const std::string& log_root) {
  Database db;
  db.config_dir_ = os::join_path(log_root, kConfigDirName);
  db.db_path_ = os::join_path(db.config_dir_, kDatabaseFileName);
  if (auto made = os::make_directories(db.config_dir_); !made) return std::unexpected(made.error());
  if (auto lock = os::DirectoryLock::acquire(db.config_dir_)) db.lock_ = std::move(*lock);
  db.load(log_root);
  return db;
}

Database Database::open_read_only(const std::string& log_root) {
  Database db;
  db.read_only_ = true;
  db.load(log_root);
  return db;
}

// A missing or unloadable database file leaves the database empty; one that
// is there but does not load is marked damaged. A missing or unusable cache
// file leaves the cache empty. Reading the cache is no writing: a read-only
// run uses it too.
void Database::load(const std::string& log_root) {
  config_dir_ = os::join_path(log_root, kConfigDirName);
  db_path_ = os::join_path(config_dir_, kDatabaseFileName);
  cache_path_ = os::join_path(config_dir_, kLogTimeCacheFileName);
  if (auto bytes = os::read_file(db_path_)) {
    LoadedDatabase loaded = load_database_bytes(*bytes);
    files_ = std::move(loaded.content.files);
    next_file_id_ = loaded.content.next_file_id;
    damaged_ = loaded.damaged;
  } else {
    damaged_ = names_unloadable_file(bytes.error());
  }
  log_times_ = load_log_time_cache(cache_path_);
}

Status Database::save() {
  if (read_only_) return std::unexpected(Error{"the database was opened for reading only", 0});
  const std::string text = render_database(files_, next_file_id_, os::now_seconds());
  Status written = damaged_ ? keep_damaged_database_file() : Status{};
  if (written) written = write_database_file(text);
  write_log_time_cache();
  lock_.release();
  return written;
}

Status Database::keep_damaged_database_file() {
  auto kept = keep_damaged_file(db_path_);
  if (!kept) return std::unexpected(kept.error());
  kept_damaged_file_ = std::move(*kept);
  damaged_ = false;
  return {};
}

Status Database::write_database_file(std::string_view text) {
  // Without the lock a temporary file may belong to a run still writing.
  if (lock_.held()) remove_stale_temporary_files(config_dir_);
  auto temporary = os::TemporaryFile::create(config_dir_, kTemporaryPrefix);
  if (!temporary) {
    // A kept damaged file is the same file under a second name: rewriting
    // in place would destroy it.
    if (!may_rewrite_in_place(temporary.error()) || !kept_damaged_file_.empty()) {
      return std::unexpected(temporary.error());
    }
    return os::write_file(db_path_, text);
  }
  if (auto written = temporary->write_all(text); !written) return written;
  if (auto synced = temporary->sync(); !synced) return synced;
  return temporary->commit(db_path_);
}

void Database::write_log_time_cache() {
  if (!log_times_.changed()) return;
  // A cache that cannot be written only costs the next run a full read.
  if (replace_file(config_dir_, kCacheTemporaryPrefix, cache_path_, encode_log_time_cache(log_times_))) {
    log_times_.mark_saved();
  }
}

const FileEntry* Database::find_by_id(std::uint64_t id) const {
  if (id == 0) return nullptr;
  for (const auto& entry : files_) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

const FileEntry* Database::find_by_path(std::string_view path) const {
  const auto index = path_index_.find(files_, path);
  return index ? &files_[*index] : nullptr;
}

}  // namespace vexlo
