// The scan of the log root: depth first, in the order the system lists
// each directory, following symbolic links.
//
// Names are passed to the system as the raw bytes it gave; only the
// recorded path is turned into text. Each directory (by device and inode)
// is entered at most once per scan, under the first path that reaches it:
// links could otherwise make a small tree of directories look like an
// exponentially large one (two links to the next level, twenty levels
// deep) or never end (a cycle). A link to a directory reached in no other
// way is followed as any directory is. The daemon rotates its logs while we scan, so a
// file or directory that vanishes between the listing and its inspection is
// passed over; any other failure ends the scan.

#include "vexlo/db/log_scan.h"

#include <cerrno>
#include <functional>
#include <new>
#include <unordered_set>

#include "vexlo/common/utf8.h"
#include "vexlo/db/database.h"
#include "vexlo/db/log_time_memo.h"
#include "vexlo/json/json.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

constexpr std::string_view kConfigDirName = ".config";

// The path as text: itself when it is UTF-8 (as a rule), without a copy.
std::string path_text(std::string&& path) {
  if (is_valid_utf8(path)) return std::move(path);
  return to_utf8_lossy(path);
}

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

class LogScanner {
 public:
  LogScanner(std::vector<FileEntry>& entries, ScanSource& source, std::vector<std::string>* unreadable)
      : entries_(entries), source_(source), unreadable_(unreadable) {}

  Status scan_root(const std::string& root) {
    const auto status = source_.status(root);
    if (!status || status->type != os::FileType::Directory) return {};
    entered_.insert({status->device, status->inode});
    return scan_directory(root);
  }

 private:
  Status scan_directory(const std::string& directory) {
    auto names = source_.list(directory);
    if (!names) {
      if (names.error().os_code == ENOENT) return {};
      return std::unexpected(names.error());
    }
    for (const auto& name : *names) {
      if (auto visited = visit(directory, name); !visited) return visited;
    }
    return {};
  }

  Status visit(const std::string& directory, const std::string& name) {
    std::string path = os::join_path(directory, name);
    // An entry that cannot be examined (a broken link, one that vanished)
    // is neither a directory nor a regular file.
    const auto status = source_.status(path);
    if (!status) return {};
    if (status->type == os::FileType::Directory) {
      if (name == kConfigDirName) return {};
      if (!entered_.insert({status->device, status->inode}).second) return {};
      return scan_directory(path);
    }
    if (status->type == os::FileType::Regular && has_json_extension(name)) {
      if (const auto time = source_.log_time(path, *status)) {
        entries_.push_back(FileEntry{path_text(std::move(path)), 0, *time});
      } else if (unreadable_ != nullptr) {
        unreadable_->push_back(path_text(std::move(path)));
      }
    }
    return {};
  }

  std::vector<FileEntry>& entries_;
  ScanSource& source_;
  std::vector<std::string>* unreadable_;  // none: not asked for
  std::unordered_set<DirectoryIdentity, IdentityHash> entered_;
};

}  // namespace

bool has_json_extension(std::string_view name) {
  const auto dot = name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "json";
}

std::optional<std::int64_t> LogTimeReader::read(const std::string& path, std::int64_t modified) {
  // No UTF-8 check of its own: the parser rejects text that is not UTF-8,
  // and either way the file is skipped. So is a file that cannot be JSON
  // from its first bytes, and one too large to hold in memory.
  try {
    const auto read = os::read_file_into(path, buffer_, json::kPadding, json::may_begin_value);
    if (!read || *read != os::ReadContent::Whole) return std::nullopt;
    const auto boot_timestamp = parser_.read_boot_timestamp(json::PaddedText(buffer_));
    if (!boot_timestamp) return std::nullopt;
    return boot_timestamp->value_or(modified);
  } catch (const std::bad_alloc&) {
    std::string().swap(buffer_);
    return std::nullopt;
  }
}

std::optional<std::int64_t> read_log_time(const std::string& path, std::int64_t modified) {
  return LogTimeReader().read(path, modified);
}

Result<os::FileStatus> SystemScanSource::status(const std::string& path) { return os::stat_path(path); }

Result<std::vector<std::string>> SystemScanSource::list(const std::string& directory) {
  return os::list_directory(directory);
}

std::optional<std::int64_t> SystemScanSource::log_time(const std::string& path, const os::FileStatus& status) {
  return reader_.read(path, status.modified.value_or(0));
}

Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      std::vector<std::string>* unreadable) {
  return LogScanner(entries, source, unreadable).scan_root(directory);
}

Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries) {
  SystemScanSource system;
  return scan_log_files(directory, entries, system);
}

Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, LogTimeMemo& memo,
                      std::vector<std::string>* unreadable) {
  SystemScanSource system;
  MemoizedScanSource memoized(system, memo);
  return scan_log_files(directory, entries, memoized, unreadable);
}

}  // namespace vexlo
