// The scan of the log root: depth first, in the order the system lists
// each directory, following symbolic links.
//
// Names are passed to the system as the raw bytes it gave; only the
// recorded path is turned into text. Each directory (by device and inode)
// is entered at most once per scan, under the first path that reaches it:
// links could otherwise make a small tree of directories look like an
// exponentially large one (two links to the next level, twenty levels
// deep) or never end (a cycle). A link to a directory reached in no other
// way is followed as any directory is. The daemon rotates its logs while we
// scan, so a file or directory that vanishes between the listing and its
// inspection is passed over; any other failure ends the scan.
//
// The walk comes first and only finds the JSON files with their status;
// then the files the cache cannot answer are read, by several threads at
// once, each result in the place of its file, so that the entries come out
// in discovery order whatever thread read which file. Reading never ends
// the scan (a file that cannot be read is skipped), so reading after the
// walk rather than during it changes nothing but the speed.

#include "vexlo/db/log_scan.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <unordered_set>

#include "vexlo/common/threads.h"
#include "vexlo/common/utf8.h"
#include "vexlo/db/config_files.h"
#include "vexlo/db/log_time_cache.h"
#include "vexlo/json/json.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

struct DirectoryIdentity {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const DirectoryIdentity&) const = default;
};

struct IdentityHash {
  std::size_t operator()(const DirectoryIdentity& identity) const {
    return std::hash<std::uint64_t>()(identity.inode * 0x9E3779B97F4A7C15ULL ^ identity.device);
  }
};

// A regular file with the extension "json" that the walk found.
struct FoundFile {
  std::string path;
  os::FileStatus status;
};

class LogTreeWalker {
 public:
  LogTreeWalker(std::vector<FoundFile>& found, ScanSource& source, ScanNotes* notes)
      : found_(found), source_(source), notes_(notes) {}

  Status walk_root(const std::string& root) {
    const auto status = source_.status(root);
    if (!status || status->type != os::FileType::Directory) return {};
    entered_.insert({status->device, status->inode});
    auto names = source_.list(root);
    if (!names) {
      if (names.error().os_code == ENOENT) return {};
      return std::unexpected(names.error());
    }
    return walk_names(root, *names, 0);
  }

 private:
  Status walk_names(const std::string& directory, const std::vector<std::string>& names, std::size_t depth) {
    for (const auto& name : names) {
      if (auto visited = visit(directory, name, depth); !visited) return visited;
    }
    return {};
  }

  // A subdirectory that cannot be entered is passed over, with the reason.
  Status walk_directory(const std::string& directory, std::size_t depth) {
    if (depth > kMaxScanDepth) {
      pass_over(directory, "more than " + std::to_string(kMaxScanDepth) + " directories deep");
      return {};
    }
    if (directory.size() > kMaxStoredPathLength) {
      pass_over(directory, os::error_text(ENAMETOOLONG));
      return {};
    }
    auto names = source_.list(directory);
    if (!names) {
      if (names.error().os_code != ENOENT) pass_over(directory, names.error().text);
      return {};
    }
    return walk_names(directory, *names, depth);
  }

  void pass_over(const std::string& directory, std::string reason) {
    if (notes_ != nullptr) notes_->passed_over.push_back({to_utf8_lossy(directory), std::move(reason)});
  }

  Status visit(const std::string& directory, const std::string& name, std::size_t depth) {
    std::string path = os::join_path(directory, name);
    // An entry that cannot be examined (a broken link, one that vanished)
    // is neither a directory nor a regular file.
    const auto status = source_.status(path);
    if (!status) return {};
    if (status->type == os::FileType::Directory) {
      if (name == kConfigDirName) return {};
      if (!entered_.insert({status->device, status->inode}).second) return {};
      return walk_directory(path, depth + 1);
    }
    if (status->type == os::FileType::Regular && has_json_extension(name)) {
      found_.push_back(FoundFile{std::move(path), *status});
    }
    return {};
  }

  std::vector<FoundFile>& found_;
  ScanSource& source_;
  ScanNotes* notes_;
  std::unordered_set<DirectoryIdentity, IdentityHash> entered_;
};

using LogTime = std::optional<std::int64_t>;

// Reads the files at `positions` in `found` and puts each time in `times`
// at its file's position, and in `failed` whether the file could not be
// read at all. The calling thread reads too; up to `threads` - 1
// more join it, each with its own reader, taking the next unread file until
// none is left, so that a thread holds one file at a time. An exception in
// a helper (memory ran out) stops the others and is thrown again in the
// calling thread, as if it alone had read.
void read_log_times(const std::vector<FoundFile>& found, const std::vector<std::size_t>& positions,
                    std::vector<LogTime>& times, std::vector<char>& failed, ScanSource& source,
                    std::size_t threads) {
  std::atomic<std::size_t> next{0};
  std::mutex large_file_turn;
  const auto read_until_done = [&] {
    LogTimeReader reader;
    for (std::size_t i = next++; i < positions.size(); i = next++) {
      const FoundFile& file = found[positions[i]];
      // A file that grew past the bound since the walk saw it small is
      // refused by the reader rather than read outside the turn.
      const bool large = file.status.size > kLargeLogSize;
      std::unique_lock turn(large_file_turn, std::defer_lock);
      if (large) turn.lock();
      times[positions[i]] = source.log_time(file.path, file.status, reader, large ? os::kMaxReadSize - 1 : kLargeLogSize);
      failed[positions[i]] = reader.last_read_failed();
    }
  };
  std::mutex failure_mutex;
  std::exception_ptr failure;
  const auto help = [&] {
    try {
      read_until_done();
    } catch (...) {
      next = positions.size();
      const std::lock_guard lock(failure_mutex);
      if (!failure) failure = std::current_exception();
    }
  };
  const std::size_t helpers = std::max<std::size_t>(std::min(threads, positions.size()), 1) - 1;
  {
    const auto pool = start_threads(helpers, help);
    help();
  }  // the helpers are joined here
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

bool has_json_extension(std::string_view name) {
  const auto dot = name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "json";
}

std::optional<std::int64_t> LogTimeReader::read(const std::string& path, std::int64_t modified,
                                                std::uint64_t max_size) {
  const auto file = os::open_regular_file(AT_FDCWD, path, os::Links::Follow);
  if (!file) {
    last_read_failed_ = true;
    return std::nullopt;
  }
  return read(*file, modified, max_size);
}

std::optional<std::int64_t> LogTimeReader::read(const os::OpenFile& file, std::int64_t modified,
                                                std::uint64_t max_size) {
  // No UTF-8 check of its own: the parser rejects text that is not UTF-8,
  // and either way the file is skipped. So is a file that cannot be JSON
  // from its first bytes, one that holds a NUL byte, and one too large to
  // hold in memory.
  last_read_failed_ = false;
  std::optional<std::int64_t> time;
  try {
    const os::ReadRules rules{
        .spare = json::kPadding, .check = json::may_begin_value, .stop_after_nul = true, .max_size = max_size};
    const auto read = os::read_open_file(file, buffer_, rules);
    if (!read) last_read_failed_ = true;
    if (read && *read == os::ReadContent::Whole) {
      if (const auto boot_timestamp = parser_.read_boot_timestamp(json::PaddedText(buffer_))) {
        time = boot_timestamp->value_or(modified);
      }
    }
  } catch (const std::bad_alloc&) {
    last_read_failed_ = true;
  }
  if (last_read_failed_ || buffer_.capacity() > kLargeLogSize) {
    std::string().swap(buffer_);
    parser_ = json::Parser();
  }
  return time;
}

bool may_follow_link(const os::FileStatus& link, const os::FileStatus& target) {
  return link.owner == os::current_user() || link.owner == target.owner;
}

namespace {

// The name of the entry `path` names in `directory`, when `path` is the two
// joined (see os::join_path).
std::optional<std::string_view> entry_name(std::string_view directory, std::string_view path) {
  const auto rest = path_below(directory, path);
  if (!rest || rest->find('/') != std::string_view::npos) return std::nullopt;
  return rest;
}

}  // namespace

namespace {

Result<os::FileStatus> allowed_status_within(const os::Directory& directory, const std::string& name, int& links_left);

// Whether every link that following the link text `text`, read in
// `directory`, passes through may be followed: a link the running user
// made to a link of someone else's must not lead where that one may not.
bool link_text_allowed(const os::Directory& directory, std::string_view text, int& links_left) {
  auto current = text.starts_with('/') ? os::Directory::open("/", os::Links::Follow)
                                       : directory.open_entry(".", os::Links::Follow);
  while (current) {
    const auto slash = text.find('/');
    const std::string part(text.substr(0, slash));
    if (!part.empty() && part != "." && part != "..") {
      const auto status = allowed_status_within(*current, part, links_left);
      if (!status || status->type == os::FileType::Other) return false;
    }
    if (slash == std::string_view::npos) return true;
    text.remove_prefix(slash + 1);
    if (!part.empty()) current = current->open_entry(part, os::Links::Follow);
  }
  return false;
}

// The status of the entry `name` of `directory` as the scan sees it: that
// of what a link points to when it and every link it leads through may be
// followed, else that of a file that is no directory and no log. At most
// `links_left` links are followed, so that links of links cost no more
// than the system allows one path.
Result<os::FileStatus> allowed_status_within(const os::Directory& directory, const std::string& name, int& links_left) {
  auto entry = directory.status(name, os::Links::DoNotFollow);
  if (!entry || entry->type != os::FileType::Link) return entry;
  auto target = directory.status(name, os::Links::Follow);
  if (!target) return target;
  const auto text = directory.read_link(name);
  if (!may_follow_link(*entry, *target) || !text || --links_left < 0 ||
      !link_text_allowed(directory, *text, links_left)) {
    return os::FileStatus{};
  }
  return target;
}

Result<os::FileStatus> allowed_status(const os::Directory& directory, const std::string& name) {
  int links_left = 40;  // as the system allows one path
  return allowed_status_within(directory, name, links_left);
}

// Whether `reached`, opened by the name `name` in `directory`, is what the
// entry there is allowed to lead to now: the entry itself, or the target
// of a link that may be followed. Guards against an entry swapped for a
// link between the look and the open.
bool reached_as_allowed(const os::Directory& directory, const std::string& name, const os::FileStatus& reached) {
  const auto entry = directory.status(name, os::Links::DoNotFollow);
  if (!entry) return false;
  const auto allowed = entry->type == os::FileType::Link ? allowed_status(directory, name) : entry;
  return allowed && allowed->device == reached.device && allowed->inode == reached.inode;
}

// The subdirectory `name` of `parent`, opened as the scan may enter it.
Result<os::Directory> enter(const os::Directory& parent, const std::string& name) {
  auto opened = parent.open_entry(name, os::Links::Follow);
  if (!opened) return opened;
  const auto reached = opened->status();
  if (!reached) return std::unexpected(reached.error());
  if (!reached_as_allowed(parent, name, *reached)) return std::unexpected(os::os_error(EACCES));
  return opened;
}

}  // namespace

const os::Directory* SystemScanSource::holder_of(const std::string& path, std::string& name) {
  for (std::size_t depth = open_.size(); depth > 0; --depth) {
    if (const auto found = entry_name(open_[depth - 1].path(), path)) {
      while (open_.size() > depth) open_.pop_back();
      name = *found;
      return &open_.back();
    }
  }
  return nullptr;
}

Result<os::FileStatus> SystemScanSource::status(const std::string& path) {
  std::string name;
  if (const os::Directory* holder = holder_of(path, name)) return allowed_status(*holder, name);
  open_.clear();
  return os::stat_path(path);  // the log root, as the caller names it
}

Result<std::vector<std::string>> SystemScanSource::list(const std::string& directory) {
  std::string name;
  const os::Directory* holder = holder_of(directory, name);
  auto opened = holder != nullptr ? enter(*holder, name) : os::Directory::open(directory, os::Links::Follow);
  if (!opened) return std::unexpected(opened.error());
  auto names = opened->list();
  if (names) open_.push_back(std::move(*opened));
  return names;
}

std::optional<std::int64_t> SystemScanSource::log_time(const std::string& path, const os::FileStatus& status,
                                                       LogTimeReader& reader, std::uint64_t max_size) {
  // Opened by its path once more: what stands there now must be the file
  // the walk saw and allowed, else it is passed over for this run.
  auto file = os::open_regular_file(AT_FDCWD, path, os::Links::Follow);
  if (file && (file->status.device != status.device || file->status.inode != status.inode)) {
    file = std::unexpected(os::os_error(EACCES));
  }
  if (!file) return reader.unreadable();
  return reader.read(*file, status.modified.value_or(0), max_size);
}

Result<os::OpenFile> open_log_file(const std::string& log_root, const std::string& path) {
  const auto below = path_below(log_root, path);
  if (!below) return std::unexpected(os::os_error(ENOENT));
  auto directory = os::Directory::open(log_root, os::Links::Follow);
  if (!directory) return std::unexpected(directory.error());
  std::string_view rest = *below;
  for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
    const std::string name(rest.substr(0, slash));
    rest.remove_prefix(slash + 1);
    if (name.empty() || name == "." || name == ".." || name == kConfigDirName) {
      return std::unexpected(os::os_error(ENOENT));
    }
    auto entered = enter(*directory, name);
    if (!entered) return std::unexpected(entered.error());
    *directory = std::move(*entered);
  }
  const std::string name(rest);
  if (!has_json_extension(name)) return std::unexpected(os::os_error(ENOENT));
  const auto status = allowed_status(*directory, name);
  if (!status) return std::unexpected(status.error());
  auto file = os::open_regular_file(directory->fd(), name, os::Links::Follow);
  if (file && (status->type != os::FileType::Regular || file->status.device != status->device ||
               file->status.inode != status->inode)) {
    return std::unexpected(os::os_error(EACCES));  // a link that may not be followed
  }
  return file;
}

std::optional<std::string_view> path_below(std::string_view log_root, std::string_view path) {
  if (log_root.empty() || !path.starts_with(log_root)) return std::nullopt;
  std::string_view rest = path.substr(log_root.size());
  if (log_root.back() != '/') {
    if (!rest.starts_with('/')) return std::nullopt;
    rest.remove_prefix(1);
  }
  if (rest.empty()) return std::nullopt;
  return rest;
}

namespace {

// Turns the found paths into text in place, bytes that are not UTF-8
// replaced, and says of each whether it is passed over because its text is
// another file's. A text belongs to the file whose path it is byte for byte
// (the file that a later look-up of the text opens), else to the first
// whose path gives it. Only a replaced path can give the text of another,
// so a tree of UTF-8 names costs no more than the check.
std::vector<char> to_path_texts(std::vector<FoundFile>& found) {
  std::vector<char> replaced(found.size(), 0);
  std::unordered_set<std::string> replaced_texts;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (is_valid_utf8(found[i].path)) continue;
    found[i].path = to_utf8_lossy(found[i].path);
    replaced[i] = 1;
    replaced_texts.insert(found[i].path);
  }
  std::vector<char> passed_over(found.size(), 0);
  if (replaced_texts.empty()) return passed_over;
  std::unordered_set<std::string_view> given;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!replaced[i] && replaced_texts.contains(found[i].path)) given.insert(found[i].path);
  }
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (replaced[i]) passed_over[i] = !given.insert(found[i].path).second;
  }
  return passed_over;
}

std::string directory_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

Status scan_into(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                 const LogTimeCache& cache, LogTimeCache* learned, std::size_t threads, ScanNotes* notes) {
  const os::Timestamp started = os::now();
  std::vector<FoundFile> found;
  if (auto walked = LogTreeWalker(found, source, notes).walk_root(directory); !walked) return walked;

  // The identity is the one seen before reading: a file that changes while
  // it is read no longer matches it at the next scan and is read again.
  std::vector<LogTime> times(found.size());
  std::vector<std::size_t> unknown;
  LogTimeCache::Lookup lookup(cache);
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (const auto known = lookup.find(found[i].path, FileIdentity::of(found[i].status))) {
      times[i] = *known;
    } else {
      unknown.push_back(i);
    }
  }
  std::vector<char> failed(found.size(), 0);
  read_log_times(found, unknown, times, failed, source, threads);

  // A scan that found what the cache holds leaves it as it is. A file that
  // could not be read is left out, so that the next run tries it again.
  if (learned != nullptr && (!unknown.empty() || !lookup.found_all_in_order(found.size()))) {
    std::vector<LogTimeCache::Record> records;
    records.reserve(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (failed[i]) continue;
      records.push_back({found[i].path, FileIdentity::of(found[i].status), times[i]});
    }
    learned->replace(std::move(records), started);
  }
  const std::vector<char> repeated = to_path_texts(found);
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (repeated[i]) {
      if (notes != nullptr) notes->repeated_text_in.push_back(directory_of(found[i].path));
    } else if (times[i]) {
      entries.push_back(FileEntry{std::move(found[i].path), 0, *times[i]});
    } else if (notes != nullptr) {
      notes->unreadable.push_back(std::move(found[i].path));
    }
  }
  return {};
}

}  // namespace

Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      LogTimeCache& cache, std::size_t threads, ScanNotes* notes) {
  return scan_into(directory, entries, source, cache, &cache, threads, notes);
}

Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      const LogTimeCache& cache, std::size_t threads, ScanNotes* notes) {
  return scan_into(directory, entries, source, cache, nullptr, threads, notes);
}

}  // namespace vexlo
