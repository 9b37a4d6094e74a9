// A directory reached twice (through a link, or a cycle of them) gets the
// watch descriptor it already has, which ends the descent there.

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

Result<TreeWatch> TreeWatch::open(const std::string& root, std::string_view skip, LinkRule may_follow) {
  FileDescriptor fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd.valid()) return std::unexpected(os_error(errno));
  TreeWatch watch(std::move(fd), skip, may_follow);
  if (auto added = watch.add_tree(root); !added) return std::unexpected(added.error());
  // A root that is not there (yet) is looked at by scanning.
  if (watch.directories_.empty()) return std::unexpected(os_error(ENOENT));
  return watch;
}

Status TreeWatch::add_tree(const std::string& directory) {
  // The watch limit is one for all of the user's processes: a tree that
  // others can fill with directories must not take every watch of root.
  if (directories_.size() >= kMostWatches) return std::unexpected(os_error(ENOSPC));
  const int wd = ::inotify_add_watch(fd_.get(), directory.c_str(), kWatchedEvents);
  if (wd < 0) {
    if (is_watch_limit(errno)) return std::unexpected(os_error(errno));
    return {};  // gone, no permission, no directory: nothing to watch there
  }
  if (directories_.empty()) root_wd_ = wd;
  if (!directories_.emplace(wd, directory).second) return {};  // watched already
  auto listing = Directory::open(directory, Links::Follow);
  if (!listing) return {};
  auto names = listing->list();
  if (!names) return {};
  for (const auto& name : *names) {
    if (name == skip_ || !enters(*listing, name)) continue;
    if (auto added = add_tree(join_path(directory, name)); !added) return added;
  }
  return {};
}

// Whether the entry `name` is a directory to watch: a link is entered only
// where the scan would follow it, so that another user's link cannot make
// the watch list what only the running user may list.
bool TreeWatch::enters(const Directory& listing, const std::string& name) const {
  const auto entry = listing.status(name, Links::DoNotFollow);
  if (!entry || entry->type != FileType::Link) return entry && entry->type == FileType::Directory;
  const auto target = listing.status(name, Links::Follow);
  return target && target->type == FileType::Directory && may_follow_(*entry, *target);
}

// A directory renamed within the tree keeps its watch, which must then
// name it, and every directory below it, by the new path: events are
// turned into paths through it.
void TreeWatch::moved_to(const std::string& directory) {
  const int wd = ::inotify_add_watch(fd_.get(), directory.c_str(), kWatchedEvents);
  const auto watched = directories_.find(wd);
  if (wd < 0 || watched == directories_.end() || watched->second == directory) return;
  const std::string old_path = watched->second;
  for (auto& entry : directories_) {
    std::string& path = entry.second;
    if (path == old_path) {
      path = directory;
    } else if (path.starts_with(old_path) && path[old_path.size()] == '/') {
      path = directory + path.substr(old_path.size());
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
      const std::string_view entry(name, ::strnlen(name, event.len));
      std::string path = join_path(directory->second, entry);
      if (event.mask & IN_ISDIR) {
        if ((event.mask & (IN_CREATE | IN_MOVED_TO)) == 0 || entry == skip_) continue;
        changes.anything = true;
        if (event.mask & IN_MOVED_TO) moved_to(path);
        if (auto added = add_tree(path); !added) return added;
      } else if (!changes.anything) {
        changes.files.push_back(std::move(path));
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
