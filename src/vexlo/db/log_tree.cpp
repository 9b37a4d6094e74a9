// The walk of the log tree: depth first, in the order the system lists
// each directory, following only the symbolic links that may_follow_link
// allows.
//
// Names are passed to the system as the raw bytes it gave; only the
// recorded path is turned into text. Each directory (by device and inode)
// is entered at most once per scan, under the first path that reaches it:
// links could otherwise make a small tree of directories look like an
// exponentially large one (two links to the next level, twenty levels
// deep) or never end (a cycle). The daemon rotates its logs while we scan,
// so a file or directory that vanishes between the listing and its
// inspection is passed over; a directory that cannot be entered is passed
// over with its reason.

#include "vexlo/db/log_tree.h"

#include <fcntl.h>

#include <cerrno>
#include <functional>
#include <unordered_set>

#include "vexlo/common/utf8.h"
#include "vexlo/db/config_files.h"

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

class LogTreeWalker {
 public:
  LogTreeWalker(const FoundFileVisitor& found, ScanSource& source, std::vector<PassedOverDirectory>* passed_over)
      : found_(found), source_(source), passed_over_(passed_over) {}

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
    if (passed_over_ != nullptr) passed_over_->push_back({to_utf8_lossy(directory), std::move(reason)});
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
      found_(std::move(path), *status);
    }
    return {};
  }

  const FoundFileVisitor& found_;
  ScanSource& source_;
  std::vector<PassedOverDirectory>* passed_over_;
  std::unordered_set<DirectoryIdentity, IdentityHash> entered_;
};

}  // namespace

Status walk_log_tree(const std::string& root, ScanSource& source, const FoundFileVisitor& found,
                     std::vector<PassedOverDirectory>* passed_over) {
  return LogTreeWalker(found, source, passed_over).walk_root(root);
}

bool has_json_extension(std::string_view name) {
  const auto dot = name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "json";
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

using os::same_file;

// The status of what the link text `text`, read in `directory`, leads to,
// when every link it passes through may be followed: a link the running
// user made to a link of someone else's must not lead where that one may
// not. Nothing when one may not. Each directory on the way must be, once
// opened, the one its name was checked as, and the status is taken where
// the walk arrives: a link swapped between the checks and the opens
// cannot lead past them.
std::optional<os::FileStatus> reached_by_allowed_links(const os::Directory& directory, std::string_view text,
                                                       int& links_left) {
  auto current = text.starts_with('/') ? os::Directory::open("/", os::Links::Follow)
                                       : directory.open_entry(".", os::Links::Follow);
  while (current) {
    const auto slash = text.find('/');
    const std::string part(text.substr(0, slash));
    std::optional<os::FileStatus> allowed;
    if (!part.empty() && part != "." && part != "..") {
      const auto status = allowed_status_within(*current, part, links_left);
      if (!status || status->type == os::FileType::Other) return std::nullopt;
      if (slash == std::string_view::npos) return *status;
      allowed = *status;
    }
    if (!part.empty()) current = current->open_entry(part, os::Links::Follow);
    if (!current) return std::nullopt;
    const auto reached = current->status();
    if (!reached || (allowed && !same_file(*reached, *allowed))) return std::nullopt;
    if (slash == std::string_view::npos) return *reached;
    text.remove_prefix(slash + 1);
  }
  return std::nullopt;
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
  if (!may_follow_link(*entry, *target) || !text || --links_left < 0) return os::FileStatus{};
  // The target must be the file that the links, checked one by one, lead to.
  const auto reached = reached_by_allowed_links(directory, *text, links_left);
  if (!reached || !same_file(*reached, *target)) return os::FileStatus{};
  return target;
}

constexpr int kMaxLinksPerPath = 40;  // as the system allows

Result<os::FileStatus> allowed_status(const os::Directory& directory, const std::string& name) {
  int links_left = kMaxLinksPerPath;
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
  return allowed && same_file(*allowed, reached);
}

}  // namespace

Result<os::Directory> enter_directory(const os::Directory& parent, const std::string& name) {
  auto opened = parent.open_entry(name, os::Links::Follow);
  if (!opened) return opened;
  const auto reached = opened->status();
  if (!reached) return std::unexpected(reached.error());
  if (!reached_as_allowed(parent, name, *reached)) return std::unexpected(os::os_error(EACCES));
  return opened;
}

Result<const os::Directory*> SystemScanSource::holder_of(const std::string& path, std::string& name) {
  for (std::size_t depth = trail_.size(); depth > 0; --depth) {
    if (const auto found = entry_name(trail_.path(depth - 1), path)) {
      while (trail_.size() > depth) {
        if (auto left = trail_.leave(); !left) return std::unexpected(left.error());
      }
      name = *found;
      return &trail_.end();
    }
  }
  return nullptr;
}

Result<os::FileStatus> SystemScanSource::status(const std::string& path) {
  // One name's room for every entry: a tree of a million files would
  // otherwise take and give back a million names.
  const auto holder = holder_of(path, entry_name_);
  if (!holder) return std::unexpected(holder.error());
  if (*holder != nullptr) return allowed_status(**holder, entry_name_);
  // The log root, as the caller names it; nothing else is looked at by path.
  if (root_ && *root_ != path) return std::unexpected(os::os_error(ENOENT));
  root_ = path;
  return os::stat_path(path);
}

Result<std::vector<std::string>> SystemScanSource::list(const std::string& directory) {
  std::string name;
  const auto holder = holder_of(directory, name);
  if (!holder) return std::unexpected(holder.error());
  if (*holder != nullptr) {
    if (auto entered = trail_.enter(name); !entered) return std::unexpected(entered.error());
  } else {
    if (root_ && *root_ != directory) return std::unexpected(os::os_error(ENOENT));
    root_ = directory;
    auto root = os::Directory::open(directory, os::Links::Follow);
    if (!root) return std::unexpected(root.error());
    if (auto started = trail_.start(std::move(*root), directory); !started) return std::unexpected(started.error());
  }
  auto names = trail_.end().list();
  // The walk does not go into a directory it cannot list.
  if (!names && trail_.size() > 1) (void)trail_.leave();
  return names;
}

std::optional<std::int64_t> SystemScanSource::log_time(const std::string& path, const os::FileVersion& version,
                                                       LogTimeReader& reader, std::uint64_t max_size) {
  // Opened by its path once more: what stands there now must be the file
  // the walk saw and allowed, else it is passed over for this run.
  auto file = os::open_regular_file(AT_FDCWD, path, os::Links::Follow);
  if (file && !same_file(file->status, version)) {
    file = std::unexpected(os::os_error(EACCES));
  }
  if (!file) return reader.unreadable(file.error().os_code);
  return reader.read(*file, version.modified.value_or(0), max_size);
}

namespace {

// Whether the part of a path text below the log root can name a log file
// at all: no empty, ".", ".." or ".config" part, and a "json" name.
bool may_name_log_file(std::string_view below) {
  for (auto slash = below.find('/'); slash != std::string_view::npos; slash = below.find('/')) {
    const std::string_view name = below.substr(0, slash);
    if (name.empty() || name == "." || name == ".." || name == kConfigDirName) return false;
    below.remove_prefix(slash + 1);
  }
  return has_json_extension(below);
}

// Walks from the log root to the file, entering each directory and
// opening the file as the scan would, links included.
Result<os::OpenFile> open_below(const os::Directory& root, std::string_view below) {
  std::optional<os::Directory> entered;
  for (auto slash = below.find('/'); slash != std::string_view::npos; slash = below.find('/')) {
    auto next = enter_directory(entered ? *entered : root, std::string(below.substr(0, slash)));
    if (!next) return std::unexpected(next.error());
    entered = std::move(*next);
    below.remove_prefix(slash + 1);
  }
  const os::Directory& directory = entered ? *entered : root;
  const std::string name(below);
  const auto status = allowed_status(directory, name);
  if (!status) return std::unexpected(status.error());
  auto file = os::open_regular_file(directory.fd(), name, os::Links::Follow);
  if (file && (status->type != os::FileType::Regular || !same_file(file->status, *status))) {
    return std::unexpected(os::os_error(EACCES));  // a link that may not be followed
  }
  return file;
}

}  // namespace

LogFileOpener::LogFileOpener(std::string log_root) : log_root_(std::move(log_root)) {}

Result<os::OpenFile> LogFileOpener::open(const std::string& path) {
  const auto below = path_below(log_root_, path);
  if (!below || !may_name_log_file(*below)) return std::unexpected(os::os_error(ENOENT));
  if (!root_) {
    auto root = os::Directory::open(log_root_, os::Links::Follow);
    if (!root) return std::unexpected(root.error());
    root_ = std::move(*root);
  }
  // Most paths lead through no link at all: the system then resolves them
  // in one call, and only the others are walked part by part. Where the
  // call is refused (an old kernel, a system call filter), this opener does
  // not try it again for every file.
  if (!one_call_refused_) {
    auto file = os::open_regular_file_beneath(root_->fd(), std::string(*below));
    if (file) return file;
    const int code = file.error().os_code;
    one_call_refused_ = code == ENOSYS || code == EPERM;
  }
  return open_below(*root_, *below);
}

bool may_be_found_below(std::string_view log_root, std::string_view path) {
  const auto below = path_below(log_root, path);
  return below && may_name_log_file(*below);
}

Result<os::OpenFile> open_log_file(const std::string& log_root, const std::string& path) {
  return LogFileOpener(log_root).open(path);
}

bool reached_through_allowed_links(const std::string& path) {
  const auto here = os::Directory::open(".", os::Links::Follow);
  int links_left = kMaxLinksPerPath;
  return here && reached_by_allowed_links(*here, path, links_left).has_value();
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

}  // namespace vexlo
