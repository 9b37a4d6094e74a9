#include "vexlo/app/cursor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "testing/temp_dir.h"
#include "vexlo/db/database_file.h"

namespace vexlo {
namespace {

TEST(CursorText, ParsesWhatItRendersAndRefusesTheRest) {
  const CursorRecord record{"0f3a", 42};
  EXPECT_EQ(parse_cursor(render_cursor(record)), record);
  EXPECT_EQ(parse_cursor(render_cursor({"", 0})), CursorRecord{});
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "it is not a vexlo cursor file"},
      {"{\"files\": []}", "it is not a vexlo cursor file"},
      {"vexlo cursor 2\ndatabase -\nid 1\n", "it is not a vexlo cursor file"},
      {"vexlo cursor 1\ndatabase -\nid 1", "it is damaged"},
      {"vexlo cursor 1\ndatabase -\nid +1\n", "it is damaged"},
      {"vexlo cursor 1\ndatabase -\nid 18446744073709551616\n", "it is damaged"},
      {"vexlo cursor 1\ndatabase XY\nid 1\n", "it is damaged"},
      {"vexlo cursor 1\nid 1\ndatabase -\n", "it is damaged"},
      {"vexlo cursor 1\ndatabase -\nid 1\nid 2\n", "it is damaged"},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_cursor(c.text);
    ASSERT_FALSE(parsed) << c.text;
    EXPECT_EQ(parsed.error().text, c.error) << c.text;
  }
}

TEST(Cursor, LoadsOnlyTheRunnersOwnFile) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "plain", render_cursor({"", 3}));
  ::chmod((dir / "plain").c_str(), 0600);
  testing::write_file(dir / "shared", render_cursor({"", 3}));
  ::chmod((dir / "shared").c_str(), 0622);
  ASSERT_EQ(::symlink("plain", (dir / "link").c_str()), 0);
  const struct {
    std::string name;
    std::string error;  // empty: loads
    bool has_record;
  } cases[] = {
      {"plain", "", true},
      {"missing", "", false},
      {"shared", "others may write it", false},
      {"link", "it is a symbolic link", false},
      {".", "it is not a regular file", false},
  };
  for (const auto& c : cases) {
    auto cursor = Cursor::load(dir / c.name);
    EXPECT_EQ(cursor ? "" : cursor.error().text, c.error) << c.name;
    if (cursor) {
      EXPECT_EQ(cursor->has_record(), c.has_record) << c.name;
    }
  }
}

// A record is kept against the database it was made on: one made anew
// (another instance, or a counter below the record) starts from 0 once.
TEST(Cursor, StartsAgainOnADatabaseMadeAnew) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "root";
  testing::make_dirs(root + "/.config");
  const auto database_with = [&](std::string_view instance, std::uint64_t next_id) {
    testing::write_file(root + "/.config/vexlo-db.json", render_database({}, next_id, 0, instance));
    return Database::open_read_only(root);
  };
  const struct {
    CursorRecord recorded;
    std::string instance;
    std::uint64_t next_id;
    std::uint64_t above;
  } cases[] = {
      {{"aa", 5}, "aa", 9, 5}, {{"aa", 5}, "bb", 9, 0}, {{"aa", 5}, "", 9, 0},
      {{"", 5}, "bb", 9, 5},   {{"", 5}, "", 5, 0},     {{"aa", 8}, "aa", 9, 8},
  };
  for (const auto& c : cases) {
    testing::write_file(dir / "cursor", render_cursor(c.recorded));
    ::chmod((dir / "cursor").c_str(), 0600);
    auto cursor = Cursor::load(dir / "cursor");
    ASSERT_TRUE(cursor);
    std::ostringstream err;
    EXPECT_EQ(cursor->above(database_with(c.instance, c.next_id), err, {}), c.above) << c.instance << c.next_id;
    EXPECT_EQ(err.str().empty(), c.above != 0) << err.str();
    // Said once: the record now holds this database.
    ASSERT_TRUE(cursor->record(c.above));
    std::ostringstream again;
    cursor->above(database_with(c.instance, c.next_id), again, {});
    EXPECT_EQ(again.str(), "");
  }
}

TEST(Cursor, RecordReplacesALinkAndWritesOwnerOnly) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "target", "kept");
  auto cursor = Cursor::load(dir / "cursor");
  ASSERT_TRUE(cursor);
  // Planted after the cursor was read.
  ASSERT_EQ(::symlink("target", (dir / "cursor").c_str()), 0);
  std::ostringstream err;
  cursor->above(Database::open_read_only(dir / "root"), err, {});
  ASSERT_TRUE(cursor->record(7));
  EXPECT_EQ(testing::read_file(dir / "target"), "kept");
  EXPECT_EQ(testing::read_file(dir / "cursor"), render_cursor({"", 7}));
  struct stat status {};
  ASSERT_EQ(::lstat((dir / "cursor").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(status.st_uid, ::geteuid());
}

}  // namespace
}  // namespace vexlo
