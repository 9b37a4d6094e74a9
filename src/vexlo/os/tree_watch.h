#pragma once
// Waiting for new files below a directory tree without looking again and
// again: inotify on every directory of the tree, new ones included.

#include <chrono>
#include <optional>
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
  // Whether a symbolic link with the status `link` to a directory with the
  // status `target` is followed.
  using LinkRule = bool (*)(const FileStatus& link, const FileStatus& target);

  // Watches `root` and every directory below it, following the symbolic
  // links that `may_follow` allows and passing over directories named `skip`. Fails where inotify is not
  // to be had, the root cannot be watched (it is not there, say), or the
  // watch limit or 8192 directories are reached (ENOSPC);
  // a directory that cannot be watched for another reason (gone, no
  // permission) is passed over.
  static Result<TreeWatch> open(const std::string& root, std::string_view skip, LinkRule may_follow);

  // Waits until something changes in the tree (for ever: no processor time
  // is spent meanwhile) or `stop_fd` becomes readable, and returns the
  // changes, or none when `stop_fd` woke it. Events that come within
  // `settle` of each other (up to ten times that in all) are taken
  // together, so that a file written in many pieces is looked at once.
  // Fails when a new directory cannot be watched for lack of watches: the
  // caller must look for itself then.
  Result<std::optional<TreeChanges>> wait(int stop_fd, std::chrono::milliseconds settle);

 private:
  TreeWatch(FileDescriptor fd, std::string_view skip, LinkRule may_follow)
      : fd_(std::move(fd)), skip_(skip), may_follow_(may_follow) {}
  bool enters(const Directory& listing, const std::string& name) const;
  Status add_tree(const std::string& directory);
  void moved_to(const std::string& directory);
  Status read_events(TreeChanges& changes);

  FileDescriptor fd_;
  std::string skip_;
  LinkRule may_follow_;
  std::unordered_map<int, std::string> directories_;  // by watch descriptor
  int root_wd_ = -1;
};

}  // namespace vexlo::os
