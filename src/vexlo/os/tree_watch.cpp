// A directory reached twice (through a link, or a cycle of them) gets the
// watch descriptor it already has, which ends the descent there. Which
// directories are entered is the caller's rule; the watch only makes sure
// that what it watches and lists is what the rule was asked about.
//
// A flood of events (directories made and removed in a loop, deep down)
// costs a bounded amount per event: the parent of a new directory is
// reached from the root once per batch of events and kept open for the
// rest of it, and a wait reads no more than its time allows. Where the
// watch cannot tell where a directory went (it moved before the events
// about it were read), it lists it again once the later events are in.

#include "vexlo/os/tree_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "vexlo/os/directory.h"
#include "vexlo/os/directory_trail.h"
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

// Events handled between two looks at the stop descriptor and the clock.
constexpr std::size_t kEventsPerBatch = 64;

// Directories reached in one batch that are kept open for the rest of it.
constexpr std::size_t kMostReached = 8;

// Running out of watches, or of the kernel memory for them.
bool is_watch_limit(int error) { return error == ENOSPC || error == ENOMEM; }

}  // namespace

Result<TreeWatch> TreeWatch::open(const std::string& root, std::string_view skip, Enter enter) {
  FileDescriptor fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd.valid()) return std::unexpected(os_error(errno));
  TreeWatch watch(std::move(fd), skip, std::move(enter));
  // The root is the one the run was given, link or not, as for the scan.
  if (auto directory = Directory::open(root, Links::Follow)) {
    if (auto added = watch.add_tree(std::move(*directory), root, false); !added) return std::unexpected(added.error());
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

// Watches `directory`, at `path`. True when it was not watched before. A
// directory watched already under another path, which no longer leads to
// it, has moved there.
Result<bool> TreeWatch::add_one(const Directory& directory, const std::string& path, const FileStatus& status) {
  // The watch limit is one for all of the user's processes: a tree that
  // others can fill with directories must not take every watch of root.
  if (directories_.size() >= kMostWatches) return std::unexpected(os_error(ENOSPC));
  const int wd = watch(directory);
  if (wd < 0) {
    if (is_watch_limit(errno)) return std::unexpected(os_error(errno));
    return false;  // gone, no permission: nothing to watch there
  }
  if (directories_.empty()) root_wd_ = wd;
  const auto [watched, added] = directories_.try_emplace(wd, Watched{path, status});
  if (!added && watched->second.path != path && reach(wd) == nullptr) moved_to(wd, path);
  return added;
}

// Watches `top` and, depth first, every directory below it that the rule
// enters. With `again`, `top` may be watched already and is listed again,
// as something may have appeared in it unseen.
Status TreeWatch::add_tree(Directory top, const std::string& path, bool again) {
  DirectoryTrail trail(enter_);
  if (!trail.start(std::move(top), path)) return {};
  const auto names_of_end = [&] {
    // Only directories are watched: files need not be tried one by one.
    auto names = trail.end().list(Directory::Entries::MayBeDirectories);
    if (!names) return std::vector<std::string>{};
    std::erase(*names, skip_);
    return std::move(*names);
  };
  const auto added = add_one(trail.end(), path, trail.status());
  if (!added) return std::unexpected(added.error());
  if (!*added && !again) return {};
  // The names not yet looked at, for each directory of the trail.
  std::vector<std::vector<std::string>> left{names_of_end()};
  while (!left.empty()) {
    if (left.back().empty()) {
      left.pop_back();
      if (!left.empty() && !trail.leave()) return {};  // moved away: its own events tell where
      continue;
    }
    const std::string name = std::move(left.back().back());
    left.back().pop_back();
    if (!trail.enter(name)) continue;  // no directory, or one not to be entered
    const auto entered = add_one(trail.end(), trail.path(trail.size() - 1), trail.status());
    if (!entered) return std::unexpected(entered.error());
    if (*entered) {
      left.push_back(names_of_end());
    } else if (!trail.leave()) {
      return {};
    }
  }
  return {};
}

namespace {

bool same_directory(const Directory& directory, const FileStatus& expected) {
  const auto status = directory.status();
  return status && same_file(*status, expected);
}

// The part of `path` below `top`, when `path` is `top` or lies below it
// (joined with one "/", as join_path does).
std::optional<std::string_view> part_below(std::string_view top, std::string_view path) {
  if (!path.starts_with(top)) return std::nullopt;
  path.remove_prefix(top.size());
  if (path.empty() || top.ends_with('/')) return path;
  if (!path.starts_with('/')) return std::nullopt;
  return path.substr(1);
}

}  // namespace

// The watched directory `wd`, reached part by part as the caller's rule
// enters them now, from the root or from a directory reached so in this
// batch: a link that was allowed when the watch began and has been
// replaced since leads nowhere. Null when its path no longer leads to it.
const Directory* TreeWatch::reach(int wd) {
  const auto watched = directories_.find(wd);
  if (watched == directories_.end()) return nullptr;
  for (const auto& [reached_wd, directory] : reached_) {
    if (reached_wd == wd) return &directory;
  }
  // The nearest directory reached already on the way, else the root.
  const Directory* from = nullptr;
  std::string_view rest;
  for (const auto& [reached_wd, directory] : reached_) {
    const auto above = directories_.find(reached_wd);
    if (above == directories_.end()) continue;
    const auto below = part_below(above->second.path, watched->second.path);
    if (below && (from == nullptr || below->size() < rest.size())) {
      from = &directory;
      rest = *below;
    }
  }
  std::optional<Directory> current;
  if (from == nullptr) {
    const auto root = directories_.find(root_wd_);
    if (root == directories_.end()) return nullptr;
    const auto below = part_below(root->second.path, watched->second.path);
    if (!below) return nullptr;
    rest = *below;
    auto opened = Directory::open(root->second.path, Links::Follow);
    if (!opened || !same_directory(*opened, root->second.status)) return nullptr;
    current = std::move(*opened);
  }
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    auto next = enter_(current ? *current : *from, std::string(rest.substr(0, slash)));
    if (!next) return nullptr;
    current = std::move(*next);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
  }
  if (!current) {
    auto again = from->open_entry(".", Links::DoNotFollow);
    if (!again) return nullptr;
    current = std::move(*again);
  }
  if (!same_directory(*current, watched->second.status)) return nullptr;
  if (reached_.size() >= kMostReached) reached_.pop_front();
  reached_.emplace_back(wd, std::move(*current));
  return &reached_.back().second;
}

// A directory that an event announced in the watched directory
// `parent_wd`, entered from the parent as reached now. A parent that its
// path no longer leads to has moved on since: it is listed again at the
// end of the wait.
Status TreeWatch::add_announced(int parent_wd, const std::string& name, bool moved) {
  const Directory* parent = reach(parent_wd);
  if (parent == nullptr) {
    look_again_.insert(parent_wd);
    return {};
  }
  auto entered = enter_(*parent, name);
  if (!entered) return {};
  const std::string path = join_path(directories_.at(parent_wd).path, name);
  if (moved) moved_to(watch(*entered), path);
  return add_tree(std::move(*entered), path, false);
}

// The directories whose events came while their paths led elsewhere, now
// that the later events have moved them to where they are.
Status TreeWatch::look_again() {
  reached_.clear();
  std::set<int> wds;
  wds.swap(look_again_);
  for (const int wd : wds) {
    const Directory* directory = reach(wd);
    if (directory == nullptr) continue;  // gone, or moved where no event says
    auto own = directory->open_entry(".", Links::DoNotFollow);
    if (!own) continue;
    if (auto added = add_tree(std::move(*own), directories_.at(wd).path, true); !added) return added;
  }
  reached_.clear();
  return {};
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

// Handles up to kEventsPerBatch events, reading more when none are left.
// False once the queue is empty.
Result<bool> TreeWatch::handle_batch(TreeChanges& changes) {
  reached_.clear();
  for (std::size_t handled = 0; handled < kEventsPerBatch;) {
    if (at_ >= got_) {
      const ssize_t got = ::read(fd_.get(), buffer_.data(), buffer_.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && errno == EAGAIN) return false;
      if (got <= 0) return std::unexpected(os_error(got < 0 ? errno : EIO));
      at_ = 0;
      got_ = static_cast<std::size_t>(got);
    }
    inotify_event event;
    std::memcpy(&event, buffer_.data() + at_, sizeof event);
    const char* name = buffer_.data() + at_ + sizeof event;
    at_ += sizeof event + event.len;
    const std::string entry(name, ::strnlen(name, event.len));
    if (auto handled_one = handle(event.wd, event.mask, entry, changes); !handled_one) return std::unexpected(handled_one.error());
    ++handled;
  }
  return true;
}

// One event: `entry` is the name it gives, if any.
Status TreeWatch::handle(int wd, std::uint32_t mask, const std::string& entry, TreeChanges& changes) {
  if (mask & IN_Q_OVERFLOW) {
    changes.anything = true;
    changes.lost = true;
    return {};
  }
  if (wd == root_wd_ && (mask & (IN_MOVE_SELF | IN_IGNORED))) {
    // The root moved or went: its path may name another directory now,
    // or none, and the watch names nothing there.
    changes.anything = true;
    changes.lost = true;
    return {};
  }
  if (mask & IN_IGNORED) {
    directories_.erase(wd);
    return {};
  }
  const auto directory = directories_.find(wd);
  if (directory == directories_.end() || entry.empty()) return {};
  if (mask & IN_ISDIR) {
    if ((mask & (IN_CREATE | IN_MOVED_TO)) == 0 || entry == skip_) return {};
    changes.anything = true;
    return add_announced(wd, entry, (mask & IN_MOVED_TO) != 0);
  }
  if (!changes.anything) {
    changes.files.push_back(join_path(directory->second.path, entry));
    // A flood of events would otherwise cost memory for each; a round
    // that looks at the whole tree costs no more than reading them.
    if (changes.files.size() >= kMostFiles) {
      changes.anything = true;
      std::vector<std::string>().swap(changes.files);
    }
  }
  return {};
}

Result<std::optional<TreeChanges>> TreeWatch::wait(int stop_fd, std::chrono::milliseconds settle) {
  // Events left from the last wait are taken at once.
  if (at_ >= got_) {
    auto woken = wait_readable({stop_fd, fd_.get()}, std::nullopt);
    if (!woken) return std::unexpected(woken.error());
    if (*woken == std::size_t{0}) return std::nullopt;
  }
  TreeChanges changes;
  // Events that keep coming (a large file written slowly, or a flood) are
  // taken together for at most this long.
  const auto deadline = std::chrono::steady_clock::now() + 10 * settle;
  for (;;) {
    auto more = handle_batch(changes);
    if (!more) return std::unexpected(more.error());
    if (std::chrono::steady_clock::now() >= deadline) break;
    auto next = wait_readable({stop_fd, fd_.get()}, *more ? std::chrono::milliseconds(0) : settle);
    if (!next) return std::unexpected(next.error());
    if (*next == std::size_t{0}) return std::nullopt;
    if (!*next && !*more) break;
  }
  auto stopped = wait_readable({stop_fd}, std::chrono::milliseconds(0));
  if (stopped && *stopped) return std::nullopt;
  if (auto looked = look_again(); !looked) return std::unexpected(looked.error());
  return changes;
}

}  // namespace vexlo::os
