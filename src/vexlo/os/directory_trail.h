#pragma once
// The directories from a top one down to the one a depth-first walk stands
// in, with only the last few of them open: a walk of any depth holds a
// bounded number of descriptors. A directory closed on the way down is
// opened again on the way back up, and must then be the very directory
// that was entered (by device and inode), else the walk cannot go back.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_system.h"

namespace vexlo::os {

class DirectoryTrail {
 public:
  // The subdirectory `name` of `parent`, opened as the walk enters it.
  using Enter = std::function<Result<Directory>(const Directory& parent, const std::string& name)>;

  // Directories kept open besides the top one.
  static constexpr std::size_t kMostOpen = 16;

  explicit DirectoryTrail(Enter enter) : enter_(std::move(enter)) {}

  // Starts again at `top`, whose path is `path`.
  Status start(Directory top, std::string path);
  bool empty() const { return levels_.empty(); }
  // The number of directories on the trail, the top one included.
  std::size_t size() const { return levels_.size(); }
  const std::string& path(std::size_t level) const { return levels_[level].path; }
  const FileStatus& status() const { return levels_.back().status; }

  // The directory the trail ends in: always open.
  const Directory& end() const { return *levels_.back().open; }
  // Enters `name` of the end, which becomes the end.
  Status enter(const std::string& name);
  // Leaves the end for its parent. Fails, emptying the trail, when the
  // parent cannot be opened again as the directory it was.
  Status leave();

 private:
  struct Level {
    std::string name;  // as entered from the level above
    std::string path;
    FileStatus status;
    std::optional<Directory> open;
  };
  Status reopen_end(std::optional<Directory> left);

  Enter enter_;
  std::vector<Level> levels_;
};

}  // namespace vexlo::os
