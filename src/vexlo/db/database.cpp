// Opening, saving and querying the database.
//
// The database directory ".config" lies in a tree that other users may be
// able to write, and the tool usually runs as root. So the directory is
// opened once, never through a link, and every file operation goes
// relative to that descriptor: nothing is created, read, linked, renamed or
// removed outside it, whatever links are planted or swapped in during a
// run. The database file is replaced whole: the new text goes to a new
// temporary file beside it, is flushed to stable storage and renamed over
// the old one, so that a run killed at any moment, or a full disk, leaves
// either the old or the new database. There is no fallback to rewriting in
// place: when no temporary file can be made, the save fails.
//
// The log time cache is replaced the same way; a cache that a crash
// leaves damaged fails its checksum and is rebuilt, which costs one full
// read of the log files and nothing else.
//
// A run holds an advisory lock on ".config/vexlo-db.lock" from loading to
// the end of its save, so that overlapping runs take turns and never hand
// out the same ID twice. The wait for it is bounded: a run that cannot
// have it in time works on what it loaded and saves nothing. On a file
// system without locks the run goes on without one.
//
// A database file that is there but does not load is not silently
// replaced: the save first gives it a second name ("vexlo-db.json.damaged",
// then ".damaged.1" and up) and new IDs start above every ID still legible
// in it, so that an ID written down before the damage never comes to mean
// another file.

#include "vexlo/db/database.h"

#include <cerrno>

#include "vexlo/common/out_of_memory.h"
#include "vexlo/db/config_files.h"
#include "vexlo/db/database_file.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/db/log_time_cache_file.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/memory.h"
#include "vexlo/os/random.h"
#include "vexlo/os/temporary_file.h"

namespace vexlo {
namespace {

const std::string kDatabaseFile{kDatabaseFileName};
const std::string kLockFile{kLockFileName};
const std::string kCacheFile{kLogTimeCacheFileName};
constexpr std::string_view kDamagedSuffix = ".damaged";
constexpr unsigned kMaxKeptDamagedFiles = 1000;

constexpr std::uint32_t kRoot = 0;

// Why a file of the tool's own bookkeeping cannot be trusted: the text
// naming it and its owner, or none when it belongs to the running user (or
// to root, who could write it anyway) and nobody else may write it.
std::optional<std::string> distrust_of(const os::FileStatus& status, const std::string& path) {
  const bool trusted_owner = status.owner == os::current_user() || status.owner == kRoot;
  if (trusted_owner && os::only_owner_writes(status)) return std::nullopt;
  std::string reason = path + " belongs to user " + std::to_string(status.owner);
  if (trusted_owner) reason += " and others may write it";
  return reason;
}

// Reads an open file of the tool's own at any offset, for the readers
// that take it in pieces.
ReadFileAt reader_of(const os::OpenFile& file) {
  return [&file](std::uint64_t offset, std::span<char> into) { return os::read_open_file_at(file, offset, into); };
}

// Whatever the cache file holds, if it is a cache: a missing, unreadable,
// oversized or damaged file, a link, or one of another version gives an
// empty cache, which the next save replaces. One that is not the running
// user's own gives an empty cache and the reason not to trust it.
LogTimeCache load_log_time_cache(const os::Directory& directory, std::size_t database_entries,
                                 std::optional<std::string>& distrust) {
  auto file = os::open_regular_file(directory.fd(), kCacheFile, os::Links::DoNotFollow);
  if (!file) return {};
  distrust = distrust_of(file->status, os::join_path(directory.path(), kCacheFile));
  if (distrust) return {};
  if (file->status.size > max_log_time_cache_size(database_entries)) return {};
  auto cache = decode_log_time_cache(file->status.size, reader_of(*file));
  if (!cache) return {};
  return std::move(*cache);
}

bool locks_unsupported(const Error& error) { return error.os_code == ENOLCK || error.os_code == EOPNOTSUPP; }

Error lock_error(const Error& error, const os::LockWait& wait) {
  if (error.os_code != EWOULDBLOCK) return error;
  return Error{"another vexlo run kept the database locked for " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait.limit).count()) +
                   " s; nothing is saved",
               error.os_code};
}

// Whether a failed read of the database file means that a file is there
// which did not load, rather than none at all (or a directory, which no
// save replaces). A symbolic link is such a file: it is never read
// through, and kept as it is.
bool names_unloadable_file(const Error& read_error) {
  return read_error.os_code != ENOENT && read_error.os_code != ENOTDIR && read_error.os_code != EISDIR;
}

// Whether the file is one the tool could not use whatever its bytes (a
// link, no regular file, too large), rather than one whose bytes it could
// not have this time (no permission, an I/O error, no memory), which may
// hold IDs still given out.
bool is_unusable_file(const Error& read_error) {
  return read_error.os_code == ELOOP || read_error.os_code == EINVAL || read_error.os_code == EFBIG;
}

// The database file, never through a link, refused when it is larger than
// any file the tool would read (EFBIG). The tool's own layout is read in
// pieces; any other text is read whole. Memory that runs out while it is
// read fails the file as a read error does (ENOMEM).
Result<LoadedDatabase> read_database_file(const os::Directory& directory) {
  auto file = os::open_regular_file(directory.fd(), kDatabaseFile, os::Links::DoNotFollow);
  if (!file) return std::unexpected(file.error());
  if (file->status.size >= os::kMaxReadSize) return std::unexpected(os::os_error(EFBIG));
  const auto out_of_memory = [] { return std::unexpected(os::os_error(ENOMEM)); };
  auto own = within_memory([&] { return load_own_database_layout(file->status.size, reader_of(*file)); },
                           [&]() -> Result<std::optional<LoadedDatabase>> { return out_of_memory(); });
  if (!own) return std::unexpected(own.error());
  if (*own) return std::move(**own);
  std::string bytes;
  if (auto read = os::read_open_file(*file, bytes, {}); !read) return std::unexpected(read.error());
  return within_memory([&]() -> Result<LoadedDatabase> { return load_database_bytes(bytes); },
                       [&]() -> Result<LoadedDatabase> { return out_of_memory(); });
}

// Gives the file `name` in `directory` a second name that no file had
// before, "<name>.damaged" or "<name>.damaged.N" with the lowest free N, so
// that replacing the file leaves its bytes behind under that name. A hard
// link never follows a symbolic link, never replaces another file and needs
// no read access to the file. Returns the second name.
Result<std::string> keep_damaged_file(const os::Directory& directory, const std::string& name) {
  const std::string first_name = name + std::string(kDamagedSuffix);
  for (unsigned number = 0; number < kMaxKeptDamagedFiles; ++number) {
    std::string kept = number == 0 ? first_name : first_name + "." + std::to_string(number);
    auto linked = os::link_file(directory.fd(), name, kept);
    if (linked) return kept;
    if (linked.error().os_code != EEXIST) return std::unexpected(linked.error());
  }
  return std::unexpected(os::os_error(EEXIST));
}

}  // namespace

Result<Database> Database::open(const std::string& log_root, const OpenOptions& options) {
  Database db;
  const std::string config_dir = os::join_path(log_root, kConfigDirName);
  const auto root = os::stat_path(log_root);
  const bool root_missing = !log_root.empty() && !root && root.error().os_code == ENOENT;
  if (auto made = os::make_directories(config_dir); !made) return std::unexpected(made.error());
  db.created_log_root_ = root_missing;
  auto directory = os::Directory::open(config_dir);
  if (!directory) return std::unexpected(directory.error());
  db.config_dir_ = std::move(*directory);
  if (auto root = os::stat_path(log_root)) db.others_write_root_ = distrust_of(*root, log_root).has_value();
  if (auto lock = os::FileLock::acquire(*db.config_dir_, kLockFile, options.lock_wait)) {
    db.lock_ = std::move(*lock);
  } else if (!locks_unsupported(lock.error())) {
    db.lock_error_ = lock_error(lock.error(), options.lock_wait);
  }
  db.load(log_root);
  return db;
}

Database Database::open_read_only(const std::string& log_root) {
  Database db;
  db.read_only_ = true;
  // No ".config" (or one that is a link) is read as no database.
  if (auto directory = os::Directory::open(os::join_path(log_root, kConfigDirName))) {
    db.config_dir_ = std::move(*directory);
  }
  db.load(log_root);
  return db;
}

// A missing or unloadable database file leaves the database empty; one that
// is there but does not load is marked damaged, one that is there but
// cannot be read is never saved over. A missing or unusable cache
// file leaves the cache empty. Reading the cache is no writing: a read-only
// run uses it too.
void Database::load(const std::string& log_root) {
  db_path_ = os::join_path(os::join_path(log_root, kConfigDirName), kDatabaseFileName);
  if (!config_dir_) return;
  if (auto status = os::status_of(config_dir_->fd())) config_distrust_ = distrust_of(*status, config_dir_->path());
  cache_distrust_ = config_distrust_;
  if (auto read = read_database_file(*config_dir_)) {
    LoadedDatabase& loaded = *read;
    files_ = std::move(loaded.content.files);
    next_file_id_ = loaded.content.next_file_id;
    instance_ = std::move(loaded.content.instance);
    instance_saved_ = !instance_.empty();
    damaged_ = loaded.damaged;
    spelling_ = RootSpelling::of(files_, log_root);
  } else if (read.error().os_code == ENOENT) {
    file_missing_ = true;
  } else if (is_unusable_file(read.error())) {
    damaged_ = true;
  } else if (names_unloadable_file(read.error())) {
    read_error_ = read.error();
  }
  // The database file's text is gone, and so, once the cache is read, is
  // the room its records had while they were read: both go back to the
  // system, where in the heap they would count at the peak of a large run.
  os::release_freed_memory();
  if (!cache_distrust_) log_times_ = load_log_time_cache(*config_dir_, files_.size(), cache_distrust_);
  os::release_freed_memory();
}

Status Database::save() {
  if (read_only_) return std::unexpected(Error{"the database was opened for reading only", 0});
  if (lock_error_) return std::unexpected(*lock_error_);
  if (read_error_) {
    lock_.release();
    return std::unexpected(*read_error_);
  }
  Status written = damaged_ ? keep_damaged_database_file() : Status{};
  // Written as it is made, and before the cache's text is made: a large
  // database is never held twice.
  if (written) {
    const std::int64_t now = os::now_seconds();
    written = write_database_file([&](const auto& write) {
      return render_database(files_, next_file_id_, now, instance_, write);
    });
  }
  if (written) instance_saved_ = !instance_.empty();
  write_log_time_cache();
  lock_.release();
  return written;
}

Status Database::give_instance() {
  if (read_only_ || !instance_.empty()) return {};
  // 128 bits: two databases never draw the same.
  constexpr std::size_t kInstanceBytes = 16;
  auto instance = os::random_hex(kInstanceBytes);
  if (!instance) return std::unexpected(instance.error());
  instance_ = std::move(*instance);
  return {};
}

Status Database::keep_damaged_database_file() {
  auto kept = keep_damaged_file(*config_dir_, kDatabaseFile);
  if (!kept) return std::unexpected(kept.error());
  kept_damaged_file_ = os::join_path(config_dir_->path(), *kept);
  damaged_ = false;
  return {};
}

Status Database::write_database_file(const os::ContentPieces& text) {
  // Without the lock a temporary file may belong to a run still writing.
  if (lock_.held()) {
    os::remove_temporary_files(*config_dir_, kDatabaseFileName);
    os::remove_temporary_files(*config_dir_, kCacheFile);
  }
  return os::replace_file(*config_dir_, kDatabaseFile, text);
}

void Database::write_log_time_cache() {
  if (cache_distrust_ || !log_times_.changed()) return;
  // A cache that cannot be written only costs the next run a full read.
  const std::string records = log_times_.laid_out();
  const auto pieces = [&](const auto& write) -> Status {
    if (auto written = write(log_time_cache_header(log_times_, records)); !written) return written;
    return write(records);
  };
  if (os::replace_file(*config_dir_, kCacheFile, pieces, os::Permissions::OwnerOnly)) {
    log_times_.mark_saved();
  }
}

std::optional<std::string> Database::read_private_file(std::string_view name, std::uint64_t max_size) const {
  if (!config_dir_ || cache_distrust_) return std::nullopt;
  const std::string file_name(name);
  auto file = os::open_regular_file(config_dir_->fd(), file_name, os::Links::DoNotFollow);
  if (!file || distrust_of(file->status, os::join_path(config_dir_->path(), file_name))) return std::nullopt;
  std::string text;
  auto read = os::read_open_file(*file, text, {.max_size = max_size});
  if (!read || *read != os::ReadContent::Whole) return std::nullopt;
  return text;
}

Status Database::write_private_file(std::string_view name, std::string_view text) const {
  if (read_only_ || !config_dir_ || cache_distrust_) {
    return std::unexpected(Error{"the database directory is not written", 0});
  }
  return os::replace_file(*config_dir_, std::string(name), text, os::Permissions::OwnerOnly);
}

std::string Database::system_path_for_run(const FileEntry& entry) const {
  return system_path_of(system_paths_, path_for_run(entry));
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

const FileEntry* Database::PathsInTurn::find(std::string_view path) {
  const std::vector<FileEntry>& files = database_.files_;
  in_turn_ = in_turn_ && next_ < files.size() && files[next_].path == path;
  if (in_turn_) return &files[next_++];
  return database_.find_by_path(path);
}

const FileEntry* Database::PathsInTurn::find_run_path(std::string_view path) {
  if (database_.spelling_.same()) return find(path);
  return find(database_.spelling_.stored(path));
}

const FileEntry* Database::find_by_run_path(std::string_view path) const {
  if (spelling_.same()) return find_by_path(path);
  return find_by_path(spelling_.stored(path));
}

}  // namespace vexlo
