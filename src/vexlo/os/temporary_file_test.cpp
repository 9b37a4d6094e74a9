#include "vexlo/os/temporary_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>

#include "testing/temp_dir.h"
#include "vexlo/os/file_system.h"

namespace vexlo::os {
namespace {

std::vector<std::string> names_in(const std::string& dir) {
  auto names = list_directory(dir);
  EXPECT_TRUE(names);
  std::sort(names->begin(), names->end());
  return *names;
}

mode_t permissions_of(const std::string& path) {
  struct stat sb {};
  EXPECT_EQ(::stat(path.c_str(), &sb), 0);
  return sb.st_mode & 07777;
}

TEST(TemporaryFile, CommitReplacesTheTargetAndLeavesNothingElse) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "db.json", "old content that is longer");
  auto temp = TemporaryFile::create(dir.path(), "db.json.tmp.");
  ASSERT_TRUE(temp) << temp.error().text;
  EXPECT_EQ(temp->path().rfind(dir / "db.json.tmp.", 0), 0u) << temp->path();
  ASSERT_TRUE(temp->write_all("new"));
  ASSERT_TRUE(temp->sync());
  ASSERT_TRUE(temp->commit(dir / "db.json"));
  EXPECT_EQ(testing::read_file(dir / "db.json"), "new");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"db.json"});
}

TEST(TemporaryFile, SkipsNamesAlreadyTaken) {
  testing::ScopedTempDir dir;
  const std::string taken = dir / ("t." + std::to_string(::getpid()) + ".0");
  testing::write_file(taken, "someone else's");
  auto temp = TemporaryFile::create(dir.path(), "t.");
  ASSERT_TRUE(temp) << temp.error().text;
  EXPECT_NE(temp->path(), taken);
  EXPECT_EQ(testing::read_file(taken), "someone else's");
}

TEST(TemporaryFile, KeepsTheAccessRightsOfTheReplacedFile) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "private", "old");
  ASSERT_EQ(::chmod((dir / "private").c_str(), 0600), 0);
  auto temp = TemporaryFile::create(dir.path(), "t.");
  ASSERT_TRUE(temp);
  ASSERT_TRUE(temp->commit(dir / "private"));
  EXPECT_EQ(permissions_of(dir / "private"), 0600u);

  // A new file gets 0666 less the umask, as a freshly created file would.
  const mode_t mask = ::umask(022);
  auto fresh = TemporaryFile::create(dir.path(), "t.");
  ::umask(mask);
  ASSERT_TRUE(fresh);
  ASSERT_TRUE(fresh->commit(dir / "fresh"));
  EXPECT_EQ(permissions_of(dir / "fresh"), 0644u);
}

TEST(TemporaryFile, FailuresCarryTheSystemErrorAndLeaveNoFile) {
  testing::ScopedTempDir dir;
  auto nowhere = TemporaryFile::create(dir / "missing", "t.");
  ASSERT_FALSE(nowhere);
  EXPECT_EQ(nowhere.error().text, "No such file or directory (os error 2)");

  testing::make_dirs(dir / "in-the-way");
  {
    auto temp = TemporaryFile::create(dir.path(), "t.");
    ASSERT_TRUE(temp);
    auto committed = temp->commit(dir / "in-the-way");
    ASSERT_FALSE(committed);
    EXPECT_EQ(committed.error().text, "Is a directory (os error 21)");
  }
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"in-the-way"});
}

}  // namespace
}  // namespace vexlo::os
