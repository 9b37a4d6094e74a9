#pragma once
// The walk of the log tree: which entries the scan looks at, which links
// it follows, which directories it passes over, and opening one log file
// by the same rules.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/db/log_time_reader.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/directory_trail.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

Result<os::Directory> enter_directory(const os::Directory& parent, const std::string& name);

// What the scan asks of the file system.
class ScanSource {
 public:
  virtual ~ScanSource() = default;
  // Status of the file a path names, following symbolic links.
  virtual Result<os::FileStatus> status(const std::string& path) = 0;
  // Names in a directory in the order the system yields them.
  virtual Result<std::vector<std::string>> list(const std::string& directory) = 0;
  // The time of the log file at `path` (see LogTimeReader::read), or none
  // when it is no log file. Called from several threads at once, each with
  // its own reader, while the walk goes on in another; a file larger than
  // `max_size` when opened is refused.
  virtual std::optional<std::int64_t> log_time(const std::string& path, const os::FileVersion& version,
                                               LogTimeReader& reader, std::uint64_t max_size) = 0;
};

// The file system as it is. An entry is looked at and entered through its
// open directory by name, as `find` does, rather than by its whole path:
// the length of a path matters only for what is stored and printed. The
// directories on the way down from the log root are a trail (see
// os::DirectoryTrail), so that a tree of any depth costs a bounded number
// of descriptors. A symbolic link is followed only where
// may_follow_link allows it; any other is no directory and no log file.
// A log file is read only when the file opened is the one the walk saw.
class SystemScanSource : public ScanSource {
 public:
  Result<os::FileStatus> status(const std::string& path) override;
  Result<std::vector<std::string>> list(const std::string& directory) override;
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileVersion& version,
                                       LogTimeReader& reader, std::uint64_t max_size) override;

 private:
  // The open directory that holds the entry `path`, with the entry's name;
  // the trail leaves the directories below it, as the scan, depth first,
  // is done with them. Null when no directory of the trail holds it; an
  // error when the trail cannot go back to the one that does.
  Result<const os::Directory*> holder_of(const std::string& path, std::string& name);

  std::optional<std::string> root_;            // the first path asked about
  std::string entry_name_;                     // of the entry status() looks at
  os::DirectoryTrail trail_{enter_directory};  // on the way down, the log root first
};

// Directories deeper than this below the log root are passed over: no
// other program could open their files by path.
inline constexpr std::size_t kMaxScanDepth = 1000;

// Paths longer than this are not stored: no other program could open them
// by their path.
inline constexpr std::size_t kMaxStoredPathLength = 4095;

// A directory below the log root that the scan could not enter, or a log
// file it could not open for lack of descriptors.
struct PassedOverDirectory {
  std::string path;    // as text, like the entries' paths
  std::string reason;  // the error text
  bool is_file = false;
};

// Called with each regular "json" file a walk finds, in discovery order:
// its path and its status.
using FoundFileVisitor = std::function<void(std::string path, const os::FileStatus& status)>;

// Hands to `found`, in discovery order, the regular "json" files below
// `root`, outside ".config", and appends to `passed_over` (when given) the
// directories it could not enter. Only a log root that cannot be listed
// is an error.
Status walk_log_tree(const std::string& root, ScanSource& source, const FoundFileVisitor& found,
                     std::vector<PassedOverDirectory>* passed_over);

// Whether the scan follows a symbolic link with the status `link` to a file
// with the status `target`: only when the link belongs to the running user
// or to the target's owner, the rule Linux applies in sticky
// world-writable directories. Whoever may write the log root cannot make
// the tool reach, through a link of their own, what they could not reach
// themselves.
bool may_follow_link(const os::FileStatus& link, const os::FileStatus& target);

// The subdirectory `name` of `parent`, opened as the scan enters it: a
// directory, or one that a link leads to when may_follow_link allows every
// link on the way (EACCES for another link). ENOTDIR for what is no
// directory.
Result<os::Directory> enter_directory(const os::Directory& parent, const std::string& name);

// The log file `path` (a path text as the scan stores it) opened for
// reading, when the scan of `log_root` would take it: a regular "json"
// file below the log root, outside ".config", reached only through links
// that may_follow_link allows (EACCES for another). ENOENT for a path that
// does not lie below the log root.
Result<os::OpenFile> open_log_file(const std::string& log_root, const std::string& path);

// open_log_file for many files of one log root, which it keeps open.
class LogFileOpener {
 public:
  explicit LogFileOpener(std::string log_root);
  Result<os::OpenFile> open(const std::string& path);

 private:
  std::string log_root_;
  std::optional<os::Directory> root_;  // once opened
  bool one_call_refused_ = false;      // the system lacks or forbids openat2
};

// Whether the scan of `log_root` could find a log at `path`: below it,
// outside ".config", through no empty, "." or ".." part, named "*.json".
bool may_be_found_below(std::string_view log_root, std::string_view path);

// Whether `path`, from the current directory, leads through no symbolic
// link that may_follow_link refuses.
bool reached_through_allowed_links(const std::string& path);

// The part of `path` after `log_root` and the "/" that joins them (see
// os::join_path), when `path` lies below the log root.
std::optional<std::string_view> path_below(std::string_view log_root, std::string_view path);

// True when the part of the name after its last "." is exactly "json" and
// that "." is not the name's first character.
bool has_json_extension(std::string_view name);

}  // namespace vexlo
