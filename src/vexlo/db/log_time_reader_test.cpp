#include "vexlo/db/log_time_reader.h"

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

// What a reader that has read nothing before finds.
std::optional<std::int64_t> read_afresh(const std::string& path, std::int64_t modified) {
  return LogTimeReader().read(path, modified);
}

TEST(ReadLogTime, BootTimestampElseModificationTime) {
  constexpr std::int64_t kModified = 1000;
  const struct {
    const char* name;
    std::string content;
    std::optional<std::int64_t> time;
  } cases[] = {
      {"integer", R"({"boot_timestamp": 100})", 100},
      {"negative", R"({"boot_timestamp": -5})", -5},
      {"largest", R"({"boot_timestamp": 9223372036854775807})", 9223372036854775807},
      {"smallest", R"({"boot_timestamp": -9223372036854775808})", -9223372036854775807 - 1},
      {"too large", R"({"boot_timestamp": 9223372036854775808})", kModified},
      {"fraction", R"({"boot_timestamp": 1.5})", kModified},
      {"exponent", R"({"boot_timestamp": 1e9})", kModified},
      {"string of digits", R"({"boot_timestamp": "123"})", kModified},
      {"missing", R"({"other": 5})", kModified},
      {"nested only", R"({"inner": {"boot_timestamp": 5}})", kModified},
      {"array", R"([{"boot_timestamp": 5}])", kModified},
      {"repeated: later counts", R"({"boot_timestamp": 5, "boot_timestamp": 6})", 6},
      {"repeated: later not an integer", R"({"boot_timestamp": 5, "boot_timestamp": "x"})", kModified},
      {"whitespace around", " \t\r\n{\"boot_timestamp\": 7}\n", 7},
      {"127 levels", std::string(126, '[') + "{}" + std::string(126, ']'), kModified},
      {"128 levels", std::string(127, '[') + "{}" + std::string(127, ']'), std::nullopt},
      {"two documents", R"({"boot_timestamp": 1}{"boot_timestamp": 2})", std::nullopt},
      {"partly written", R"({"boot_timestamp": 1, "ev)", std::nullopt},
      {"empty", "", std::nullopt},
      {"invalid UTF-8", "{\"boot_timestamp\": 1, \"s\": \"\xff\"}", std::nullopt},
      {"form feed around", "\f{}", std::nullopt},
  };
  testing::ScopedTempDir dir;
  for (const auto& c : cases) {
    testing::write_file(dir / "log.json", c.content);
    EXPECT_EQ(read_afresh(dir / "log.json", kModified), c.time) << c.name;
  }
  EXPECT_EQ(read_afresh(dir / "missing.json", kModified), std::nullopt);
}

TEST(LogTimeReader, OneReaderForManyFilesGivesWhatAFreshOneGives) {
  // Large files first, so that later ones land in buffers holding the
  // remains of earlier ones.
  const std::string padding(200000, ' ');
  const std::string large = "{\"boot_timestamp\": 7, \"x\": \"" + std::string(100000, 'y') + "\"}" + padding;
  const std::string contents[] = {
      large,
      "{\"boot_timestamp\": 8}",
      "{\"boot_timestamp\": ",
      "",
      "[" + std::string(50000, '1') + "]",
      "{\"a\": 1}",
      "{\"boot_timestamp\": 9} x" + padding,
      "\"\xff\"",
      large.substr(0, 1000),
      "{\"boot_timestamp\": 18446744073709551616, \"s\": \"" + std::string(70000, 'z') + "\"}",
      "{\"boot_timestamp\": -10}",
  };
  testing::ScopedTempDir dir;
  LogTimeReader reader;
  int index = 0;
  for (const auto& content : contents) {
    const std::string path = dir / ("f" + std::to_string(index++) + ".json");
    testing::write_file(path, content);
    EXPECT_EQ(reader.read(path, 1000), read_afresh(path, 1000)) << content.substr(0, 40);
  }
  EXPECT_EQ(reader.read(dir / "f0.json", 1000), 7);
  EXPECT_EQ(reader.read(dir / "f1.json", 1000), 8);
  EXPECT_EQ(reader.read(dir / "f2.json", 1000), std::nullopt);
  EXPECT_EQ(reader.read(dir / "f5.json", 1000), 1000);
  EXPECT_EQ(reader.read(dir / "f8.json", 1000), std::nullopt);
  EXPECT_EQ(reader.read(dir / "f9.json", 1000), 1000);
  EXPECT_EQ(reader.read(dir / "missing.json", 1000), std::nullopt);
}

}  // namespace
}  // namespace vexlo
