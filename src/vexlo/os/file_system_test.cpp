#include "vexlo/os/file_system.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "testing/temp_dir.h"

namespace vexlo::os {
namespace {

// A whole file, with the spare bytes the tool's readers leave for parsers.
Result<std::string> read_padded(const std::string& path) {
  std::string data;
  if (auto read = read_file_into(path, data, {}); !read) return std::unexpected(read.error());
  return data;
}

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
  auto fifo = read_padded(dir / "x.json");
  ASSERT_FALSE(fifo);
  EXPECT_EQ(fifo.error().os_code, EINVAL);
  auto directory = read_padded(dir.path());
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
  ASSERT_TRUE(read_file_into(dir / "large", buffer, {}));
  EXPECT_EQ(buffer, large);
  EXPECT_GE(buffer.capacity() - buffer.size(), 64u);
  const char* storage = buffer.data();
  const std::size_t capacity = buffer.capacity();
  for (const char* name : {"small", "empty", "large"}) {
    ASSERT_TRUE(read_file_into(dir / name, buffer, {})) << name;
    EXPECT_EQ(buffer, testing::read_file(dir / name)) << name;
    EXPECT_EQ(buffer.data(), storage) << name << ": no new allocation";
    EXPECT_EQ(buffer.capacity(), capacity) << name;
  }
  auto missing = read_file_into(dir / "missing", buffer, {});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().os_code, ENOENT);
  EXPECT_EQ(read_file_into(dir.path(), buffer, {}).error().os_code, EISDIR);
}

TEST(ReadFile, LeavesRoomForParsersAfterTheContent) {
  testing::ScopedTempDir dir;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{65536}}) {
    testing::write_file(dir / "f", std::string(size, 'x'));
    auto data = read_padded(dir / "f");
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

// Undecided (true) while the head is blank.
bool starts_like_json(std::string_view head) {
  const auto first = head.find_first_not_of(' ');
  return first == std::string_view::npos || head[first] == '{' || head[first] == '[';
}

// A hostile file costs at most itself: reads stop at the size seen at open,
// sizes of 4 GiB and more are refused before reading, and a head the check
// rejects ends the read at once, whatever size the file claims.
TEST(ReadFileInto, BoundedByTheFileAndItsHead) {
  testing::ScopedTempDir dir;
  const auto sparse = [&](const char* name, std::string_view start, std::uint64_t size) {
    testing::write_file(dir / name, start);
    ASSERT_EQ(::truncate((dir / name).c_str(), static_cast<off_t>(size)), 0) << name;
  };
  sparse("huge.json", "{", kMaxReadSize);
  sparse("zeros.json", "", std::uint64_t{3} << 30);
  sparse("late.json", std::string(5000, ' ') + "x", 5001);
  sparse("holes.json", "{", std::uint64_t{3} << 30);
  sparse("late-nul.json", "[" + std::string(100000, ' '), std::uint64_t{3} << 30);
  sparse("large-then-holes.json", "[" + std::string(1536 << 10, ' '), std::uint64_t{3} << 30);
  testing::write_file(dir / "small.json", "{\"a\": 1}");
  const struct {
    const char* name;
    int code;  // 0: read
    std::optional<ReadContent> content;
    std::size_t size;
  } cases[] = {
      {"huge.json", EFBIG, std::nullopt, 0},
      {"zeros.json", 0, ReadContent::HeadOnly, kHeadSize},
      {"late.json", 0, ReadContent::Whole, 5001},  // blanks fill the head: undecided
      {"small.json", 0, ReadContent::Whole, 8},
      {"holes.json", 0, ReadContent::UpToNul, kHeadSize},
      {"late-nul.json", 0, ReadContent::UpToNul, 131072},
      {"large-then-holes.json", 0, ReadContent::UpToNul, 2 << 20},
  };
  for (const auto& c : cases) {
    std::string buffer;
    const auto read = read_file_into(dir / c.name, buffer, {.check = starts_like_json, .stop_after_nul = true});
    EXPECT_EQ(read ? 0 : read.error().os_code, c.code) << c.name;
    if (!read) continue;
    EXPECT_EQ(*read, c.content) << c.name;
    EXPECT_EQ(buffer.size(), c.size) << c.name;
    EXPECT_LT(buffer.capacity(), std::max(c.size + kHeadSize, std::size_t{1} << 20))
        << c.name << ": allocated for the claimed size";
  }
}

TEST(OpenRegularFile, RefusesEverythingElseWithoutOpeningIt) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "file", "x");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("file", (dir / "link").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/null", (dir / "device").c_str()), 0);
  const struct {
    const char* name;
    Links links;
    int code;  // 0: opened
  } cases[] = {
      {"file", Links::DoNotFollow, 0}, {"link", Links::Follow, 0},        {"link", Links::DoNotFollow, ELOOP},
      {"fifo", Links::Follow, EINVAL}, {"device", Links::Follow, EINVAL}, {".", Links::Follow, EISDIR},
      {"missing", Links::Follow, ENOENT},
  };
  for (const auto& c : cases) {
    const auto file = open_regular_file(AT_FDCWD, dir / c.name, c.links);
    EXPECT_EQ(file ? 0 : file.error().os_code, c.code) << c.name;
    if (file) {
      EXPECT_EQ(file->status.size, 1u) << c.name;
    }
  }
}

TEST(ReadTextFile, JudgesARejectedHeadByItsWholeCharacters) {
  testing::ScopedTempDir dir;
  const struct {
    const char* name;
    std::string content;
    bool valid;
  } cases[] = {
      // The head ends inside a character the rest completes.
      {"cut", "x" + std::string(kHeadSize - 2, 'a') + "\xc3\xa9" + "tail", true},
      {"bad", "x\xff" + std::string(5000, 'a'), false},
  };
  for (const auto& c : cases) {
    testing::write_file(dir / c.name, c.content);
    const auto text = read_text_file(dir / c.name, {.check = starts_like_json});
    EXPECT_EQ(text.has_value(), c.valid) << c.name;
    if (text) {
      EXPECT_EQ(text->size(), kHeadSize) << c.name;
    }
  }
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
