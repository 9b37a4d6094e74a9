#pragma once
// Replacing a file so that a crash at any moment leaves either its old or
// its new content: the new content goes to a temporary file in the same
// directory, is flushed to stable storage and is then renamed over the old
// file. Everything happens relative to an open Directory, with files that
// did not exist before: the old file (or whatever stands at its name) is
// never opened, followed or changed, only replaced.

#include <functional>
#include <string>
#include <string_view>

#include "vexlo/common/error.h"
#include "vexlo/os/directory.h"

namespace vexlo::os {

// Who may read and write a replaced file.
enum class Permissions {
  // Those of a regular file it replaces, limited to 0644 (never set-ID,
  // sticky or execute bits, never writing for group or others), else 0644
  // less the umask.
  LikeReplaced,
  // The owner alone (0600), whatever stood there before.
  OwnerOnly,
};

// Writes `content` to a new temporary file "<name>.tmp.<process id>.<n>" in
// `directory` and renames it to `name`. On failure nothing is left behind
// and the old file stays as it was.
Status replace_file(const Directory& directory, const std::string& name, std::string_view content,
                    Permissions permissions = Permissions::LikeReplaced);

// Hands each piece of a file's content to the function it is given and
// stops at the first error that returns.
using ContentPieces = std::function<Status(const std::function<Status(std::string_view)>& write)>;

// The same with content made piece by piece as it is written, so that a
// large file is never held whole.
Status replace_file(const Directory& directory, const std::string& name, const ContentPieces& content,
                    Permissions permissions = Permissions::LikeReplaced);

// Removes the temporary files of replace_file for `name` that runs killed
// before their rename left behind. Only for a caller that holds a lock
// keeping every other writer of `name` out.
void remove_temporary_files(const Directory& directory, std::string_view name);

}  // namespace vexlo::os
