#pragma once
// One log directory may be named in many ways: "logroot", "./logroot",
// "logroot/", an absolute path, a link to it, a relative path from another
// working directory. The database keeps the paths of its entries as the
// run that first saw them spelled the log root; a run that spells it
// otherwise translates between the two spellings, so that IDs follow the
// directory rather than its name.

#include <string>
#include <string_view>
#include <vector>

#include "vexlo/db/file_entry.h"

namespace vexlo {

class RootSpelling {
 public:
  // The database spells the log root as the run does: paths pass as they are.
  RootSpelling() = default;

  // How `files` spell the directory `log_root` names. The entries spell it
  // P when every entry's path is P, "/" and the file's path below the log
  // root, and P either names the same directory as `log_root` (by device
  // and inode, following links the scan would follow) or else its
  // parts (leaving out "." and leading "..") are the last parts of the log
  // root's absolute path. When `log_root` is itself such a P, when the
  // entries share no P, or there are none, the spellings are the same.
  static RootSpelling of(const std::vector<FileEntry>& files, const std::string& log_root);

  bool same() const { return same_; }
  // A path of the run's scan as the database spells it.
  std::string stored(std::string_view run_path) const;
  // A path of the database as the run spells it.
  std::string for_run(std::string_view stored_path) const;

 private:
  RootSpelling(std::string stored_prefix, std::string run_prefix)
      : stored_prefix_(std::move(stored_prefix)), run_prefix_(std::move(run_prefix)), same_(false) {}

  std::string stored_prefix_;  // P joined with what follows: P and "/", unless P ends with "/"
  std::string run_prefix_;     // the run's log root, likewise
  bool same_ = true;
};

}  // namespace vexlo
