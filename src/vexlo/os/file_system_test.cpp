#include "vexlo/os/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>

#include "testing/temp_dir.h"

namespace vexlo::os {
namespace {

TEST(ErrorText, CarriesDescriptionAndNumber) {
  EXPECT_EQ(error_text(ENOENT), "No such file or directory (os error 2)");
  EXPECT_EQ(error_text(EACCES), "Permission denied (os error 13)");
}

TEST(JoinPath, OneSlashBetweenParts) {
  const struct {
    const char* left;
    const char* right;
    const char* joined;
  } cases[] = {
      {"/var/log", ".config", "/var/log/.config"},
      {"/var/log/", ".config", "/var/log/.config"},
      {"", ".config", ".config"},
      {"/", "a", "/a"},
      {"logs//", "a", "logs//a"},
  };
  for (const auto& c : cases) EXPECT_EQ(join_path(c.left, c.right), c.joined) << c.left;
}

TEST(MakeDirectories, CreatesMissingParentsAndAcceptsExisting) {
  testing::ScopedTempDir dir;
  ASSERT_TRUE(make_directories(dir / "a/b/c"));
  ASSERT_TRUE(make_directories(dir / "a/b/c/"));
  auto st = stat_path(dir / "a/b/c");
  ASSERT_TRUE(st);
  EXPECT_EQ(st->type, FileType::Directory);
}

TEST(MakeDirectories, RegularFileInTheWay) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "file", "x");
  auto in_the_way = make_directories(dir / "file");
  ASSERT_FALSE(in_the_way);
  EXPECT_EQ(in_the_way.error().os_code, EEXIST);
  auto below = make_directories(dir / "file/sub");
  ASSERT_FALSE(below);
  EXPECT_EQ(below.error().os_code, ENOTDIR);
}

TEST(ReadFile, RefusesFifoWithoutBlockingAndDirectories) {
  testing::ScopedTempDir dir;
  ASSERT_EQ(::mkfifo((dir / "x.json").c_str(), 0644), 0);
  auto fifo = read_file(dir / "x.json");
  ASSERT_FALSE(fifo);
  EXPECT_EQ(fifo.error().os_code, EINVAL);
  auto directory = read_file(dir.path());
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error().os_code, EISDIR);
}

TEST(ReadFileInto, ReplacesTheContentKeepsTheCapacityAndLeavesTheSpare) {
  testing::ScopedTempDir dir;
  const std::string large(300000, 'L');
  testing::write_file(dir / "large", large);
  testing::write_file(dir / "small", "small");
  testing::write_file(dir / "empty", "");
  std::string buffer = "old content";
  ASSERT_TRUE(read_file_into(dir / "large", buffer, 64));
  EXPECT_EQ(buffer, large);
  EXPECT_GE(buffer.capacity() - buffer.size(), 64u);
  const char* storage = buffer.data();
  const std::size_t capacity = buffer.capacity();
  for (const char* name : {"small", "empty", "large"}) {
    ASSERT_TRUE(read_file_into(dir / name, buffer, 64)) << name;
    EXPECT_EQ(buffer, testing::read_file(dir / name)) << name;
    EXPECT_EQ(buffer.data(), storage) << name << ": no new allocation";
    EXPECT_EQ(buffer.capacity(), capacity) << name;
  }
  auto missing = read_file_into(dir / "missing", buffer, 64);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().os_code, ENOENT);
  EXPECT_EQ(read_file_into(dir.path(), buffer, 64).error().os_code, EISDIR);
}

TEST(ReadFile, LeavesRoomForParsersAfterTheContent) {
  testing::ScopedTempDir dir;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{65536}}) {
    testing::write_file(dir / "f", std::string(size, 'x'));
    auto data = read_file(dir / "f");
    ASSERT_TRUE(data) << size;
    EXPECT_EQ(data->size(), size);
    EXPECT_GE(data->capacity() - data->size(), kReadPadding) << size;
    auto text = read_text_file(dir / "f");
    ASSERT_TRUE(text) << size;
    EXPECT_GE(text->capacity() - text->size(), kReadPadding) << size;
  }
}

TEST(ReadTextFile, RejectsInvalidUtf8) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "bad", "{\"a\": \"\xff\"}");
  auto text = read_text_file(dir / "bad");
  ASSERT_FALSE(text);
  EXPECT_EQ(text.error().text, "stream did not contain valid UTF-8");
  testing::write_file(dir / "good", "{\"a\": \"\xc3\xa9\"}");
  EXPECT_EQ(read_text_file(dir / "good").value(), "{\"a\": \"\xc3\xa9\"}");
}

TEST(LinkFile, NeverReplacesNorFollowsALink) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "target", "target");
  ASSERT_EQ(::symlink("target", (dir / "link").c_str()), 0);
  testing::write_file(dir / "taken", "taken");
  auto taken = link_file(AT_FDCWD, dir / "link", dir / "taken");
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().os_code, EEXIST);
  EXPECT_EQ(testing::read_file(dir / "taken"), "taken");
  ASSERT_TRUE(link_file(AT_FDCWD, dir / "link", dir / "second"));
  struct stat second;
  ASSERT_EQ(::lstat((dir / "second").c_str(), &second), 0);
  EXPECT_TRUE(S_ISLNK(second.st_mode));
  EXPECT_EQ(link_file(AT_FDCWD, dir / "missing", dir / "third").error().os_code, ENOENT);
}

TEST(StatPath, ReportsModificationTime) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "f", "x", 1700000000);
  auto st = stat_path(dir / "f");
  ASSERT_TRUE(st);
  EXPECT_EQ(st->type, FileType::Regular);
  EXPECT_EQ(st->modified, 1700000000);
  EXPECT_EQ(st->size, 1u);
}

}  // namespace
}  // namespace vexlo::os
