// The scan of the log root: depth first, in the order the system lists
// each directory, following symbolic links.
//
// Names are passed to the system as the raw bytes it gave; only the
// recorded path is turned into text. A directory whose device and inode
// match the log root or a directory on the way down is a cycle of links
// and is not entered again. The daemon rotates its logs while we scan, so a
// file or directory that vanishes between the listing and its inspection is
// passed over; any other failure ends the scan.

#include "vexlo/db/log_scan.h"

#include <cerrno>

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

class LogScanner {
 public:
  LogScanner(std::vector<FileEntry>& entries, ScanSource& source, std::vector<std::string>* unreadable)
      : entries_(entries), source_(source), unreadable_(unreadable) {}

  Status scan_root(const std::string& root) {
    const auto status = source_.status(root);
    if (!status || status->type != os::FileType::Directory) return {};
    return scan_directory(root, {status->device, status->inode});
  }

 private:
  Status scan_directory(const std::string& directory, DirectoryIdentity identity) {
    auto names = source_.list(directory);
    if (!names) {
      if (names.error().os_code == ENOENT) return {};
      return std::unexpected(names.error());
    }
    descent_.push_back(identity);
    for (const auto& name : *names) {
      if (auto visited = visit(directory, name); !visited) return visited;
    }
    descent_.pop_back();
    return {};
  }

  Status visit(const std::string& directory, const std::string& name) {
    std::string path = os::join_path(directory, name);
    // An entry that cannot be examined (a broken link, one that vanished)
    // is neither a directory nor a regular file.
    const auto status = source_.status(path);
    if (!status) return {};
    if (status->type == os::FileType::Directory) {
      const DirectoryIdentity identity{status->device, status->inode};
      if (name == kConfigDirName || on_descent_path(identity)) return {};
      return scan_directory(path, identity);
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

  bool on_descent_path(const DirectoryIdentity& identity) const {
    for (const auto& ancestor : descent_) {
      if (ancestor == identity) return true;
    }
    return false;
  }

  std::vector<FileEntry>& entries_;
  ScanSource& source_;
  std::vector<std::string>* unreadable_;  // none: not asked for
  std::vector<DirectoryIdentity> descent_;  // the log root first
};

}  // namespace

bool has_json_extension(std::string_view name) {
  const auto dot = name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "json";
}

std::optional<std::int64_t> LogTimeReader::read(const std::string& path, std::int64_t modified) {
  // No UTF-8 check of its own: the parser rejects text that is not UTF-8,
  // and either way the file is skipped.
  if (!os::read_file_into(path, buffer_, json::kPadding)) return std::nullopt;
  const auto boot_timestamp = parser_.read_boot_timestamp(json::PaddedText(buffer_));
  if (!boot_timestamp) return std::nullopt;
  return boot_timestamp->value_or(modified);
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
