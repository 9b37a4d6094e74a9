#include "vexlo/os/temporary_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "testing/temp_dir.h"

namespace vexlo::os {
namespace {

mode_t permissions_of(const std::string& path) {
  struct stat sb {};
  EXPECT_EQ(::lstat(path.c_str(), &sb), 0);
  return sb.st_mode & 07777;
}

bool exists(const std::string& path) {
  struct stat sb {};
  return ::lstat(path.c_str(), &sb) == 0;
}

Directory open_directory(const std::string& path) {
  auto directory = Directory::open(path);
  EXPECT_TRUE(directory) << path;
  return std::move(*directory);
}

TEST(ReplaceFile, ReplacesTheTargetAndLeavesNothingElse) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "db.json", "old content that is longer");
  const Directory directory = open_directory(dir.path());
  ASSERT_TRUE(replace_file(directory, "db.json", "new"));
  EXPECT_EQ(testing::read_file(dir / "db.json"), "new");
  EXPECT_EQ(testing::names_in(dir.path()), std::vector<std::string>{"db.json"});
}

// The temporary names are "<name>.tmp.<process id>.<n>": a name already
// taken is skipped, and when every one is taken the replacement fails.
TEST(ReplaceFile, SkipsTemporaryNamesAlreadyTaken) {
  testing::ScopedTempDir dir;
  const std::string stem = dir / ("t.tmp." + std::to_string(::getpid()) + ".");
  testing::write_file(stem + "0", "someone else's");
  const Directory directory = open_directory(dir.path());
  ASSERT_TRUE(replace_file(directory, "t", "new"));
  EXPECT_EQ(testing::read_file(stem + "0"), "someone else's");
  for (int n = 1; n < 1000; ++n) testing::write_file(stem + std::to_string(n), "");
  auto all_taken = replace_file(directory, "t", "newer");
  ASSERT_FALSE(all_taken);
  EXPECT_EQ(all_taken.error().os_code, EEXIST);
  EXPECT_EQ(testing::read_file(dir / "t"), "new");
}

TEST(ReplaceFile, KeepsTheAccessRightsOfTheReplacedFile) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "private", "old");
  ASSERT_EQ(::chmod((dir / "private").c_str(), 0600), 0);
  const Directory directory = open_directory(dir.path());
  ASSERT_TRUE(replace_file(directory, "private", "new"));
  EXPECT_EQ(permissions_of(dir / "private"), 0600u);

  // A new file gets 0644 less the umask, as a freshly created file would.
  const mode_t mask = ::umask(022);
  auto fresh = replace_file(directory, "fresh", "new");
  ::umask(mask);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(permissions_of(dir / "fresh"), 0644u);
}

// Whatever was planted at the name, the replacement is a plain file with
// read and write bits at most, and nothing the old name pointed to changes.
TEST(ReplaceFile, NeverWritesThroughOrCopiesDangerousBits) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "victim", "precious");
  ASSERT_EQ(::chmod((dir / "victim").c_str(), 06755), 0);
  testing::make_dirs(dir / "config");
  const struct {
    const char* planted;  // what stands at the name before the save
    mode_t mode;          // of a planted regular file
    mode_t expected;      // of the new file, with umask 022
  } cases[] = {
      {"regular", 06777, 0644},   // set-ID, sticky, execute and others' write bits dropped
      {"regular", 0640, 0640},
      {"link to victim", 0, 0644},  // the link is replaced, its target untouched
      {"dangling link", 0, 0644},
      {"nothing", 0, 0644},
  };
  const mode_t mask = ::umask(022);
  for (const auto& c : cases) {
    const std::string target = dir / "config/db";
    ::unlink(target.c_str());
    const std::string planted = c.planted;
    if (planted == "regular") {
      testing::write_file(target, "old");
      ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
    } else if (planted == "link to victim") {
      ASSERT_EQ(::symlink((dir / "victim").c_str(), target.c_str()), 0);
    } else if (planted == "dangling link") {
      ASSERT_EQ(::symlink((dir / "nowhere").c_str(), target.c_str()), 0);
    }
    const Directory directory = open_directory(dir / "config");
    ASSERT_TRUE(replace_file(directory, "db", "new")) << c.planted;
    EXPECT_EQ(testing::read_file(target), "new") << c.planted;
    EXPECT_EQ(permissions_of(target), c.expected) << c.planted;
    EXPECT_EQ(testing::read_file(dir / "victim"), "precious") << c.planted;
    EXPECT_EQ(permissions_of(dir / "victim"), 06755u) << c.planted;
    EXPECT_FALSE(exists(dir / "nowhere")) << c.planted;
  }
  ::umask(mask);
  EXPECT_EQ(testing::names_in(dir / "config"), std::vector<std::string>{"db"});
}

TEST(ReplaceFile, RemovesOnlyItsOwnLeftoverTemporaryFiles) {
  testing::ScopedTempDir dir;
  for (const char* name : {"db.tmp.4242.0", "db.tmp.17.3", "other.tmp.1.0", "db.tmpx", "notes"}) {
    testing::write_file(dir / name, "x");
  }
  const Directory directory = open_directory(dir.path());
  remove_temporary_files(directory, "db");
  EXPECT_EQ(testing::names_in(dir.path()), (std::vector<std::string>{"db.tmpx", "notes", "other.tmp.1.0"}));
}

TEST(ReplaceFile, FailuresCarryTheSystemErrorAndLeaveNoFile) {
  testing::ScopedTempDir dir;
  testing::make_dirs(dir / "in-the-way");
  const Directory directory = open_directory(dir.path());
  auto replaced = replace_file(directory, "in-the-way", "new");
  ASSERT_FALSE(replaced);
  EXPECT_EQ(replaced.error().text, "Is a directory (os error 21)");
  EXPECT_EQ(testing::names_in(dir.path()), std::vector<std::string>{"in-the-way"});
}

TEST(Directory, OpensNoLinkAndNoFile) {
  testing::ScopedTempDir dir;
  testing::make_dirs(dir / "real");
  testing::write_file(dir / "file", "x");
  ASSERT_EQ(::symlink("real", (dir / "link").c_str()), 0);
  const struct {
    const char* name;
    int code;  // 0: opens
  } cases[] = {{"real", 0}, {"link", ELOOP}, {"file", ENOTDIR}, {"missing", ENOENT}};
  for (const auto& c : cases) {
    auto directory = Directory::open(dir / c.name);
    EXPECT_EQ(directory ? 0 : directory.error().os_code, c.code) << c.name;
  }
}

}  // namespace
}  // namespace vexlo::os
