#include "vexlo/app/cursor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "testing/temp_dir.h"
#include "vexlo/db/database_file.h"

namespace vexlo {
namespace {

// Only a regular file of the runner's own, that nobody else may write,
// holding a record.
TEST(Cursor, LoadsOnlyARecordOfTheRunnersOwn) {
  testing::ScopedTempDir dir;
  const std::string not_ours = "it is not a vexlo cursor file", damaged = "it is damaged";
  for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
           {render_cursor({"0f3a", 42}), ""}, {"{}", not_ours}, {"vexlo cursor 2\ndatabase -\nid 1\n", not_ours},
           {"vexlo cursor 1\ndatabase -\nid 1", damaged}, {"vexlo cursor 1\ndatabase -\nid +1\n", damaged},
           {"vexlo cursor 1\ndatabase XY\nid 1\n", damaged}, {"vexlo cursor 1\ndatabase -\nid 1\nid 2\n", damaged}}) {
    testing::write_file(dir / "c", text);
    auto cursor = Cursor::load(dir / "c");
    EXPECT_EQ(cursor ? "" : cursor.error().text, error) << text;
  }
  ::chmod((dir / "c").c_str(), 0622);
  ASSERT_EQ(::symlink("c", (dir / "link").c_str()), 0);
  for (const auto& [name, error] : std::vector<std::pair<std::string, std::string>>{
           {"c", "others may write it"}, {"link", "it is a symbolic link"}, {".", "it is not a regular file"},
           {"missing", ""}}) {
    auto cursor = Cursor::load(dir / name);
    EXPECT_EQ(cursor ? "" : cursor.error().text, error) << name;
  }
}

// A record is held to the database it was made on: one made anew (another
// instance, or a counter not above the record) starts from 0, said once.
TEST(Cursor, StartsAgainOnADatabaseMadeAnew) {
  testing::ScopedTempDir dir;
  const auto database_with = [&](std::string_view instance, std::uint64_t next_id) {
    testing::write_file(dir / "root/.config/vexlo-db.json", render_database({}, next_id, 0, instance));
    return Database::open_read_only(dir / "root");
  };
  const struct {
    CursorRecord recorded;
    std::string instance;
    std::uint64_t next_id, above;
  } cases[] = {{{"aa", 5}, "aa", 9, 5}, {{"aa", 5}, "bb", 9, 0}, {{"aa", 5}, "", 9, 0},
               {{"", 5}, "bb", 9, 5},   {{"", 5}, "", 5, 0}};
  for (const auto& c : cases) {
    testing::write_file(dir / "cursor", render_cursor(c.recorded));
    auto cursor = Cursor::load(dir / "cursor");
    ASSERT_TRUE(cursor);
    std::ostringstream err, again;
    EXPECT_EQ(cursor->above(database_with(c.instance, c.next_id), err, {}), c.above) << c.instance << c.next_id;
    EXPECT_EQ(err.str().empty(), c.above != 0) << err.str();
    ASSERT_TRUE(cursor->record(c.above));
    cursor->above(database_with(c.instance, c.next_id), again, {});
    EXPECT_EQ(again.str(), "");
  }
}

}  // namespace
}  // namespace vexlo
