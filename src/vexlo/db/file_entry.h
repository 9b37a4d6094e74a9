#pragma once
// One log file as the database and the scan know it.

#include <cstdint>

#include "vexlo/common/shared_text.h"

namespace vexlo {

struct FileEntry {
  SharedText path;             // log root joined with the path below it, as UTF-8 text
  std::uint64_t id = 0;        // 0: no ID
  std::int64_t timestamp = 0;  // seconds since the epoch; never stored in the file

  bool operator==(const FileEntry&) const = default;
};

}  // namespace vexlo
