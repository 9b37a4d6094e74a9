// Finding the database's spelling of the log root. The plain case, the
// same spelling, costs one comparison per entry and no system call; only
// another spelling asks the system about the few prefixes the entries
// share.

#include "vexlo/db/root_spelling.h"

#include <algorithm>
#include <optional>
#include <ranges>

#include "vexlo/db/log_tree.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

// The text that comes before a path below `root`, as join_path gives it.
std::string joined_prefix(std::string_view root) { return os::join_path(root, ""); }

// Whether `path` is a path below a directory as a scan gives it: its parts
// are names, never empty, "." or "..".
bool is_scanned_below(std::string_view path) {
  if (path.empty()) return false;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

// Whether every entry is a path of a scan of the log root spelled so.
bool all_below(const std::vector<FileEntry>& files, std::string_view prefix) {
  return std::ranges::all_of(files, [&](const FileEntry& entry) {
    return entry.path.starts_with(prefix) && is_scanned_below(std::string_view(entry.path).substr(prefix.size()));
  });
}

std::string_view shared_start(const std::vector<FileEntry>& files) {
  std::string_view shared = files.front().path;
  for (const FileEntry& entry : files) {
    const auto [end, ignored] = std::ranges::mismatch(shared, entry.path.view());
    shared = shared.substr(0, static_cast<std::size_t>(end - shared.begin()));
  }
  return shared;
}

// The directories that every entry lies below, as their paths spell them,
// the longest first: each leading part of `shared` that ends before a "/".
std::vector<std::string> shared_directories(std::string_view shared) {
  std::vector<std::string> directories;
  for (std::size_t slash = shared.rfind('/'); slash != std::string_view::npos; slash = shared.rfind('/', slash - 1)) {
    directories.emplace_back(slash == 0 ? "/" : shared.substr(0, slash));
    if (slash == 0) break;
  }
  return directories;
}

std::vector<std::string_view> parts_of(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const auto slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") parts.push_back(part);
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
  }
  return parts;
}

// Whether `spelled`, which does not name the log root from here, may be a relative
// spelling of the directory at the absolute path `real`: its parts,
// without "." and leading "..", are the last parts of `real`.
bool may_name(std::string_view spelled, std::string_view real) {
  std::vector<std::string_view> parts = parts_of(spelled);
  const auto first_down = std::ranges::find_if(parts, [](std::string_view part) { return part != ".."; });
  parts.erase(parts.begin(), first_down);
  if (parts.empty() || std::ranges::find(parts, "..") != parts.end()) return false;
  const std::vector<std::string_view> real_parts = parts_of(real);
  return real_parts.size() >= parts.size() &&
         std::ranges::equal(parts, real_parts | std::views::drop(real_parts.size() - parts.size()));
}

bool same_directory(const os::FileStatus& a, const os::FileStatus& b) {
  return a.type == os::FileType::Directory && b.type == os::FileType::Directory && os::same_file(a, b);
}

std::optional<std::string> stored_root(const std::vector<FileEntry>& files, const std::string& log_root) {
  const auto root = os::stat_path(log_root);
  if (!root) return std::nullopt;
  std::vector<std::string> unresolved;
  for (std::string& directory : shared_directories(shared_start(files))) {
    // Another user who may write the current directory can make a name
    // there lead anywhere; such a name is taken as unresolved.
    const auto status = os::stat_path(directory);
    if (status && same_directory(*status, *root) && reached_through_allowed_links(directory)) return directory;
    unresolved.push_back(std::move(directory));
  }
  if (unresolved.empty()) return std::nullopt;
  const auto real = os::real_path(log_root);
  if (!real) return std::nullopt;
  for (std::string& directory : unresolved) {
    if (may_name(directory, *real)) return directory;
  }
  return std::nullopt;
}

std::string replace_prefix(std::string_view path, std::string_view from, std::string_view to) {
  if (!path.starts_with(from)) return std::string(path);
  std::string replaced(to);
  replaced.append(path.substr(from.size()));
  return replaced;
}

}  // namespace

RootSpelling RootSpelling::of(const std::vector<FileEntry>& files, const std::string& log_root) {
  std::string run_prefix = joined_prefix(log_root);
  if (files.empty() || all_below(files, run_prefix)) return {};
  const auto stored = stored_root(files, log_root);
  if (!stored) return {};
  return RootSpelling(joined_prefix(*stored), std::move(run_prefix));
}

std::string RootSpelling::stored(std::string_view run_path) const {
  if (same_) return std::string(run_path);
  return replace_prefix(run_path, run_prefix_, stored_prefix_);
}

std::string RootSpelling::for_run(std::string_view stored_path) const {
  if (same_) return std::string(stored_path);
  return replace_prefix(stored_path, stored_prefix_, run_prefix_);
}

}  // namespace vexlo
