#pragma once
// Waiting for new files below a directory tree without looking again and
// again: inotify on every directory of the tree, new ones included.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_descriptor.h"
#include "vexlo/os/file_system.h"

namespace vexlo::os {

// What changed below the tree since the last wait.
struct TreeChanges {
  // Files that appeared, were written to or closed after writing, or were
  // renamed into the tree, by path (directory path joined with the name);
  // not kept, and not needed, once `anything` holds.
  std::vector<std::string> files;
  // A directory appeared, whose content nobody has seen, or the system
  // dropped events: anything may have changed.
  bool anything = false;
  // The system dropped events, so that a new directory may be unwatched,
  // or the root moved or went: the watch must be set up afresh.
  bool lost = false;
};

class TreeWatch {
 public:
  // The subdirectory `name` of `parent`, opened when the watch is to enter
  // it (through a symbolic link only where the caller's rule allows); an
  // error for anything else.
  using Enter = std::function<Result<Directory>(const Directory& parent, const std::string& name)>;

  // Watches `root` and every directory below it that `enter` opens,
  // passing over directories named `skip`. Every directory is watched and
  // listed through its open descriptor, never by its path, so a link put in
  // the place of a checked name leads nowhere. Fails where inotify is not
  // to be had, the root cannot be watched (it is not there, say), or the
  // watch limit or 8192 directories are reached (ENOSPC); a directory that
  // cannot be watched for another reason (gone, no permission) is passed
  // over. A link that appears later is not entered until the watch is set
  // up afresh (a new file behind it is still found by the next round).
  // However deep the tree, the walk holds a bounded number of descriptors
  // (see DirectoryTrail).
  static Result<TreeWatch> open(const std::string& root, std::string_view skip, Enter enter);

  // Waits until something changes in the tree (for ever: no processor time
  // is spent meanwhile) or `stop_fd` becomes readable, and returns the
  // changes, or none when `stop_fd` woke it. Events that come within
  // `settle` of each other (up to ten times that in all) are taken
  // together, so that a file written in many pieces is looked at once;
  // events still queued then are left for the next wait. `stop_fd` is
  // looked at between batches of a few events, so that a flood of them
  // cannot delay a stop.
  // Fails when a new directory cannot be watched for lack of watches: the
  // caller must look for itself then.
  Result<std::optional<TreeChanges>> wait(int stop_fd, std::chrono::milliseconds settle);

 private:
  struct Watched {
    std::string path;
    FileStatus status;  // which directory the watch was put on
  };

  TreeWatch(FileDescriptor fd, std::string_view skip, Enter enter)
      : fd_(std::move(fd)), skip_(skip), enter_(std::move(enter)), buffer_(kBufferSize) {}
  int watch(const Directory& directory) const;
  Result<bool> add_one(const Directory& directory, const std::string& path, const FileStatus& status);
  Status add_tree(Directory top, const std::string& path, bool again);
  Status add_announced(int parent_wd, const std::string& name, bool moved);
  const Directory* reach(int wd);
  void moved_to(int wd, const std::string& path);
  void rename_paths(const std::string& from, const std::string& to);
  Result<bool> handle_batch(TreeChanges& changes);
  Status handle(int wd, std::uint32_t mask, const std::string& entry, TreeChanges& changes);
  Status look_again();

  static constexpr std::size_t kBufferSize = 64 * 1024;

  FileDescriptor fd_;
  std::string skip_;
  Enter enter_;
  std::unordered_map<int, Watched> directories_;  // by watch descriptor
  int root_wd_ = -1;
  // Events read and not yet handled: buffer_[at_, got_).
  std::vector<char> buffer_;
  std::size_t at_ = 0;
  std::size_t got_ = 0;
  // Directories reached in this batch of events, by watch descriptor: the
  // parent of a flood of new directories is reached once per batch.
  std::deque<std::pair<int, Directory>> reached_;
  // Watched directories in which something appeared while their recorded
  // path led elsewhere (they had moved on): listed again at the end of the
  // wait, once the later events have told where they are.
  std::set<int> look_again_;
};

}  // namespace vexlo::os
