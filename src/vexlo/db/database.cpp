// Opening, saving and querying the database.
//
// The database file is replaced whole: the new text goes to a temporary
// file beside it, is flushed to stable storage and renamed over the old
// file, so that a run killed at any moment, or a full disk, leaves either
// the old or the new database. Where no temporary file can be made (a
// ".config" that is not writable while the database file is), the file is
// rewritten in place instead.
//
// A run holds an advisory lock on ".config" from loading to the end of its
// save, so that overlapping runs take turns and never hand out the same ID
// twice. On a file system without locks the run goes on without one.

#include "vexlo/db/database.h"

#include <cerrno>

#include "vexlo/db/database_file.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/temporary_file.h"

namespace vexlo {
namespace {

constexpr std::string_view kConfigDirName = ".config";
constexpr std::string_view kDatabaseFileName = "vexlo-db.json";
constexpr std::string_view kTemporaryPrefix = "vexlo-db.json.tmp.";

// Temporary files of runs that were killed before their rename.
void remove_stale_temporary_files(const std::string& config_dir) {
  auto names = os::list_directory(config_dir);
  if (!names) return;
  for (const auto& name : *names) {
    if (name.starts_with(kTemporaryPrefix)) (void)os::remove_file(os::join_path(config_dir, name));
  }
}

// Rewriting in place on a full disk would leave a truncated database.
bool may_rewrite_in_place(const Error& temporary_failure) {
  return temporary_failure.os_code != ENOSPC && temporary_failure.os_code != EDQUOT;
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

// A missing or unreadable database file leaves the database empty.
void Database::load(const std::string& log_root) {
  config_dir_ = os::join_path(log_root, kConfigDirName);
  db_path_ = os::join_path(config_dir_, kDatabaseFileName);
  if (auto text = os::read_text_file(db_path_)) {
    DatabaseContent content = parse_database(*text);
    files_ = std::move(content.files);
    next_file_id_ = content.next_file_id;
  }
}

Status Database::save() {
  if (read_only_) return std::unexpected(Error{"the database was opened for reading only", 0});
  const std::string text = render_database(files_, next_file_id_, os::now_seconds());
  Status written = write_database_file(text);
  lock_.release();
  return written;
}

Status Database::write_database_file(std::string_view text) {
  // Without the lock a temporary file may belong to a run still writing.
  if (lock_.held()) remove_stale_temporary_files(config_dir_);
  auto temporary = os::TemporaryFile::create(config_dir_, kTemporaryPrefix);
  if (!temporary) {
    if (!may_rewrite_in_place(temporary.error())) return std::unexpected(temporary.error());
    return os::write_file(db_path_, text);
  }
  if (auto written = temporary->write_all(text); !written) return written;
  if (auto synced = temporary->sync(); !synced) return synced;
  return temporary->commit(db_path_);
}

const FileEntry* Database::find_by_id(std::uint64_t id) const {
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
