#pragma once
// The names of the tool's own files: the directory below the log root that
// holds them, which the scan never enters, and the files in it.

#include <string_view>

namespace vexlo {

inline constexpr std::string_view kConfigDirName = ".config";
inline constexpr std::string_view kDatabaseFileName = "vexlo-db.json";
// Held by a run from loading the database to the end of its save.
inline constexpr std::string_view kLockFileName = "vexlo-db.lock";
inline constexpr std::string_view kLogTimeCacheFileName = "vexlo-cache";
// The files not valid JSON that a run has said it passed over.
inline constexpr std::string_view kNotedInvalidFileName = "vexlo-noted-invalid";

}  // namespace vexlo
