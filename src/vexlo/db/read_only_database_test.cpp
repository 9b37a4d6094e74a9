// A database opened for reading only: it loads what the file holds and
// never creates, writes or locks anything.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <optional>

#include "testing/temp_dir.h"
#include "vexlo/db/database.h"
#include "vexlo/db/database_file.h"

namespace vexlo {
namespace {

using namespace std::chrono_literals;

// Every path below `root` with its content ("<dir>" for directories).
std::map<std::string, std::string> tree_of(const std::string& root) {
  std::map<std::string, std::string> tree;
  if (!std::filesystem::exists(root)) return tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    tree[entry.path()] = entry.is_directory() ? "<dir>" : testing::read_file(entry.path());
  }
  return tree;
}

// Known files keep their IDs, gone ones are dropped, new ones get none; the
// counter stays and not a byte on disk changes.
TEST(ReadOnlyDatabase, SyncKeepsKnownIdsAndNumbersNothing) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  testing::write_file(root + "/a.json", R"({"boot_timestamp": 30})");
  testing::write_file(root + "/b.json", R"({"boot_timestamp": 10})");
  testing::write_file(root + "/new.json", R"({"boot_timestamp": 20})");
  const std::string text = render_database(
      {{root + "/a.json", 4, 0}, {root + "/gone.json", 5, 0}, {root + "/b.json", 2, 0}}, 6, 1000);
  testing::write_file(root + "/.config/vexlo-db.json", text);
  const auto before = tree_of(root);

  Database db = Database::open_read_only(root);
  EXPECT_EQ(db.files().size(), 3u);
  ASSERT_TRUE(db.sync(root));
  const std::vector<FileEntry> expected = {{root + "/b.json", 2, 10}, {root + "/a.json", 4, 30}};
  EXPECT_EQ(db.files(), expected);
  EXPECT_EQ(db.next_file_id(), 6u);
  EXPECT_EQ(db.find_by_id(5), nullptr);
  EXPECT_EQ(db.find_by_path(root + "/new.json"), nullptr);
  const auto saved = db.save();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().text, "the database was opened for reading only");
  EXPECT_EQ(tree_of(root), before);
}

// A run that holds the lock does not hold up a read-only one.
TEST(ReadOnlyDatabase, TakesNoLock) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  testing::write_file(root + "/a.json", R"({"boot_timestamp": 1})");
  std::optional<Database> writer;
  {
    auto opened = Database::open(root);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(opened->sync(root));  // saves, which lets others in
  }
  auto holder = Database::open(root);  // holds the lock until dropped
  ASSERT_TRUE(holder);
  writer.emplace(std::move(*holder));
  auto reader = std::async(std::launch::async, [&] { return Database::open_read_only(root).files().size(); });
  const bool finished = reader.wait_for(10s) == std::future_status::ready;
  writer.reset();  // frees a reader that waits for the lock after all
  EXPECT_TRUE(finished);
  EXPECT_EQ(reader.get(), 1u);
}

}  // namespace
}  // namespace vexlo
