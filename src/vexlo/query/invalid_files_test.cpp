#include "vexlo/query/invalid_files.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "testing/temp_dir.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

TEST(InvalidFiles, AreListedWithWhyAndNotedOnceWhenSettled) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  const std::string cut_text = R"({"boot_timestamp": 5, "x": "ab)";
  const std::string cut = root + "/shutdown/unsafe/cut.json";
  testing::write_file(root + "/shutdown/unsafe/good.json", R"({"boot_timestamp": 5})");
  testing::write_file(cut, cut_text);
  testing::write_file(root + "/other/big.json", R"({"x": 1e400})");
  auto database = Database::open(root);
  ASSERT_TRUE(database);
  ASSERT_TRUE(database->sync(root));
  ListQuery selected;
  selected.filter = kDefaultPathFilter;

  const std::string why = "ends inside a string at byte " + std::to_string(cut_text.size());
  for (const ListFormat format : {ListFormat::Text, ListFormat::Json}) {
    ListQuery query = selected;
    query.format = format;
    std::ostringstream out, err;
    list_invalid_files(*database, root, query, out, err, {});
    EXPECT_EQ(out.str(), format == ListFormat::Json ? "{\"path\":\"" + cut + "\",\"why\":\"" + why + "\"}\n"
                                                      : cut + ": " + why + "\n");
    EXPECT_EQ(err.str(), "");
  }

  const std::int64_t now = os::now_seconds();
  const auto note = [&](const ListQuery& query, std::int64_t at) {
    std::ostringstream out, err;
    ListingScan listing;
    list_log_files(*database, root, query, out, err, {}, &listing);
    note_invalid_files(*database, root, listing.unreadable, query, at, err, {});
    return err.str();
  };
  const std::string one = "Note: 1 file below " + root + " is not valid JSON and is not listed; see --invalid\n";
  EXPECT_EQ(note(selected, now), "");  // written a moment ago: perhaps still being written
  EXPECT_EQ(note(selected, now + 120), one);
  EXPECT_EQ(note(selected, now + 120), "");  // said once
  EXPECT_EQ(note(ListQuery{}, now + 120),
            "Note: 2 files below " + root + " are not valid JSON and are not listed; see --invalid\n");
  testing::write_file(cut, cut_text + " ");  // a new state is said again
  EXPECT_EQ(note(selected, now + 120), one);
  // What was said is kept only where no other user could have written it.
  ASSERT_EQ(::chmod(os::join_path(root, ".config").c_str(), 0777), 0);
  auto distrusting = Database::open(root);
  ASSERT_TRUE(distrusting);
  database = std::move(distrusting);
  EXPECT_EQ(note(selected, now + 120), one);
  EXPECT_EQ(note(selected, now + 120), one);
}

}  // namespace
}  // namespace vexlo
