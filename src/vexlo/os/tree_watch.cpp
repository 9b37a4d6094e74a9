// A directory reached twice (through a link, or a cycle of them) gets the
// watch descriptor it already has, which ends the descent there. Which
// directories are entered is the caller's rule; the watch only makes sure
// that what it watches and lists is what the rule was asked about.

#include "vexlo/os/tree_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "vexlo/os/directory.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/stop_signals.h"

namespace vexlo::os {
namespace {

constexpr std::uint32_t kWatchedEvents =
    IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_ONLYDIR;

// Changed files kept by name in one wait; beyond, the whole tree is looked at.
constexpr std::size_t kMostFiles = 1024;

// Directories watched at most; a larger tree is looked at by scanning.
constexpr std::size_t kMostWatches = 8192;

// Running out of watches, or of the kernel memory for them.
bool is_watch_limit(int error) { return error == ENOSPC || error == ENOMEM; }

}  // namespace

Result<TreeWatch> TreeWatch::open(const std::string& root, std::string_view skip, Enter enter) {
  FileDescriptor fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd.valid()) return std::unexpected(os_error(errno));
  TreeWatch watch(std::move(fd), skip, std::move(enter));
  // The root is the one the run was given, link or not, as for the scan.
  if (auto directory = Directory::open(root, Links::Follow)) {
    if (auto added = watch.add_tree(*directory, root); !added) return std::unexpected(added.error());
  }
  // A root that is not there (yet) is looked at by scanning.
  if (watch.directories_.empty()) return std::unexpected(os_error(ENOENT));
  return watch;
}

// The watch on the open `directory`, through its descriptor: what the
// watch is put on is the directory that was checked, whatever its path
// names by now. Negative, with errno, when it cannot be watched.
int TreeWatch::watch(const Directory& directory) const {
  const std::string self = "/proc/self/fd/" + std::to_string(directory.fd());
  return ::inotify_add_watch(fd_.get(), self.c_str(), kWatchedEvents);
}

Status TreeWatch::add_tree(const Directory& directory, const std::string& path) {
  // The watch limit is one for all of the user's processes: a tree that
  // others can fill with directories must not take every watch of root.
  if (directories_.size() >= kMostWatches) return std::unexpected(os_error(ENOSPC));
  const int wd = watch(directory);
  if (wd < 0) {
    if (is_watch_limit(errno)) return std::unexpected(os_error(errno));
    return {};  // gone, no permission: nothing to watch there
  }
  const auto status = directory.status();
  if (!status) return {};
  if (directories_.empty()) root_wd_ = wd;
  if (!directories_.emplace(wd, Watched{path, *status}).second) return {};  // watched already
  auto names = directory.list();
  if (!names) return {};
  for (const auto& name : *names) {
    if (name == skip_) continue;
    auto entered = enter_(directory, name);
    if (!entered) continue;  // no directory, or one not to be entered
    if (auto added = add_tree(*entered, join_path(path, name)); !added) return added;
  }
  return {};
}

namespace {

bool same_directory(const Directory& directory, const FileStatus& expected) {
  const auto status = directory.status();
  return status && same_file(*status, expected);
}

}  // namespace

// The watched directory `wd`, reached from the root part by part as the
// caller's rule enters them now: a link that was allowed when the watch
// began and has been replaced since leads nowhere. None when its path no
// longer leads to it.
std::optional<Directory> TreeWatch::reach(int wd) const {
  const auto root = directories_.find(root_wd_);
  const auto watched = directories_.find(wd);
  if (root == directories_.end() || watched == directories_.end()) return std::nullopt;
  const std::string& root_path = root->second.path;
  std::string_view rest(watched->second.path);
  if (!rest.starts_with(root_path)) return std::nullopt;
  rest.remove_prefix(root_path.size());
  // The paths below the root were joined to it with one "/" (join_path).
  if (!root_path.ends_with('/') && !rest.empty() && !rest.starts_with('/')) return std::nullopt;
  if (!root_path.ends_with('/') && !rest.empty()) rest.remove_prefix(1);
  auto current = Directory::open(root_path, Links::Follow);
  if (!current || !same_directory(*current, root->second.status)) return std::nullopt;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    current = enter_(*current, std::string(rest.substr(0, slash)));
    if (!current) return std::nullopt;
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
  }
  if (!same_directory(*current, watched->second.status)) return std::nullopt;
  return std::move(*current);
}

// A directory that an event announced in the watched directory
// `parent_wd`, entered from the parent as reached now.
Status TreeWatch::add_announced(int parent_wd, const std::string& name, bool moved) {
  auto parent = reach(parent_wd);
  if (!parent) return {};
  const std::string parent_path = directories_.at(parent_wd).path;
  auto entered = enter_(*parent, name);
  if (!entered) return {};
  const std::string path = join_path(parent_path, name);
  if (moved) moved_to(watch(*entered), path);
  return add_tree(*entered, path);
}

// A directory renamed within the tree keeps its watch `wd`, which must then
// name it, and every directory below it, by the new path: events are
// turned into paths through it. A watched directory still recorded at the
// new path was moved away or exchanged with this one: it is set apart
// under a name that no path has, until its own event says where it went.
void TreeWatch::moved_to(int wd, const std::string& path) {
  const auto watched = directories_.find(wd);
  if (wd < 0 || watched == directories_.end() || watched->second.path == path) return;
  const std::string old_path = watched->second.path;
  for (const auto& [other_wd, other] : directories_) {
    if (other.path == path) {
      rename_paths(path, std::string(1, '\0') + std::to_string(other_wd));
      break;
    }
  }
  rename_paths(old_path, path);
}

// Every path that is `from` or lies below it now lies below `to`.
void TreeWatch::rename_paths(const std::string& from, const std::string& to) {
  for (auto& entry : directories_) {
    std::string& path = entry.second.path;
    if (path == from) {
      path = to;
    } else if (path.starts_with(from) && path[from.size()] == '/') {
      path = to + path.substr(from.size());
    }
  }
}

Status TreeWatch::read_events(TreeChanges& changes) {
  alignas(inotify_event) std::array<char, 64 * 1024> buffer;
  for (;;) {
    const ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return {};
    if (got <= 0) return std::unexpected(os_error(got < 0 ? errno : EIO));
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      inotify_event event;
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const char* name = buffer.data() + at + sizeof event;
      at += sizeof event + event.len;
      if (event.mask & IN_Q_OVERFLOW) {
        changes.anything = true;
        changes.lost = true;
        continue;
      }
      if (event.wd == root_wd_ && (event.mask & (IN_MOVE_SELF | IN_IGNORED))) {
        // The root moved or went: its path may name another directory now,
        // or none, and the watch names nothing there.
        changes.anything = true;
        changes.lost = true;
        continue;
      }
      if (event.mask & IN_IGNORED) {
        directories_.erase(event.wd);
        continue;
      }
      const auto directory = directories_.find(event.wd);
      if (directory == directories_.end() || event.len == 0) continue;
      const std::string entry(name, ::strnlen(name, event.len));
      if (event.mask & IN_ISDIR) {
        if ((event.mask & (IN_CREATE | IN_MOVED_TO)) == 0 || entry == skip_) continue;
        changes.anything = true;
        if (auto added = add_announced(event.wd, entry, event.mask & IN_MOVED_TO); !added) return added;
      } else if (!changes.anything) {
        changes.files.push_back(join_path(directory->second.path, entry));
        // A flood of events would otherwise cost memory for each; a round
        // that looks at the whole tree costs no more than reading them.
        if (changes.files.size() >= kMostFiles) {
          changes.anything = true;
          std::vector<std::string>().swap(changes.files);
        }
      }
    }
  }
}

Result<std::optional<TreeChanges>> TreeWatch::wait(int stop_fd, std::chrono::milliseconds settle) {
  auto woken = wait_readable({stop_fd, fd_.get()}, std::nullopt);
  if (!woken) return std::unexpected(woken.error());
  if (*woken == std::size_t{0}) return std::nullopt;
  TreeChanges changes;
  // Events that keep coming (a large file written slowly) are taken
  // together for at most this long.
  const auto deadline = std::chrono::steady_clock::now() + 10 * settle;
  for (;;) {
    if (auto read = read_events(changes); !read) return std::unexpected(read.error());
    if (std::chrono::steady_clock::now() >= deadline) return changes;
    auto more = wait_readable({stop_fd, fd_.get()}, settle);
    if (!more) return std::unexpected(more.error());
    if (!*more) return changes;
    if (**more == 0) return std::nullopt;
  }
}

}  // namespace vexlo::os
