#include "vexlo/db/log_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "testing/child_process.h"
#include "testing/machine.h"
#include "testing/log_scan.h"
#include "testing/temp_dir.h"
#include "vexlo/db/database.h"
#include "vexlo/db/log_time_cache.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

using testing::kValid;
using testing::scan;
using testing::sorted_paths;

TEST(ScanLogFiles, TimesFromContentOrModificationTime) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "stamped.json", R"({"boot_timestamp": 42})", 1700000000);
  testing::write_file(dir / "plain.json", R"({"a": 1})", 1700000000);
  testing::write_file(dir / "before-epoch.json", R"({"a": 1})", -100);
  std::vector<FileEntry> found = scan(dir.path());
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  EXPECT_EQ(found, (std::vector<FileEntry>{{dir / "before-epoch.json", 0, 0},
                                           {dir / "plain.json", 0, 1700000000},
                                           {dir / "stamped.json", 0, 42}}));
}

TEST(ScanLogFiles, NamesThatAreNotUtf8BecomeReplacementCharacters) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "bad\xff.json", kValid);
  testing::write_file(dir / "d\xe2\x82/x.json", kValid);
  EXPECT_EQ(sorted_paths(scan(dir.path())),
            (std::vector<std::string>{dir / "bad\xef\xbf\xbd.json", dir / "d\xef\xbf\xbd/x.json"}));
}

}  // namespace
}  // namespace vexlo
