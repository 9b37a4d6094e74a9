#include "vexlo/app/queries.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/temp_dir.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

TEST(MakeListQuery, FilterFromCommand) {
  const struct {
    std::optional<std::string> filter;
    bool all;
    std::string expected;
  } cases[] = {
      {std::nullopt, false, "shutdown/unsafe"},
      {"foo", false, "foo"},
      {"", false, ""},
      {"foo", true, ""},
      {std::nullopt, true, ""},
  };
  for (const auto& c : cases) {
    const ListQuery query = make_list_query(ListCommand{c.filter, c.all});
    EXPECT_EQ(query.filter, c.expected) << c.filter.value_or("<none>") << " all=" << c.all;
    EXPECT_FALSE(query.since);
    EXPECT_FALSE(query.before);
    EXPECT_EQ(query.limit, -1);
    EXPECT_EQ(query.format, ListFormat::Text);
  }
}

std::string warning(std::string_view option, std::string_view quoted) {
  return "Warning: " + std::string(option) + " value " + std::string(quoted) +
         " is not a time expression and is ignored (use -<number>day or YYYY-MM-DD [HH:MM[:SS]])\n";
}

TEST(MakeLogsQuery, FieldsFromCommand) {
  const struct {
    LogsCommand command;
    ListQuery expected;
    std::string err;
    bool err_is_terminal = false;
  } cases[] = {
      {{}, {"shutdown/unsafe", std::nullopt, std::nullopt, -1}, ""},
      {{5, std::nullopt, std::nullopt, ""}, {"", std::nullopt, std::nullopt, 5}, ""},
      {{0, std::nullopt, std::nullopt, "boot"}, {"boot", std::nullopt, std::nullopt, 0}, ""},
      {{-5, "2024-03-01", "2024-03-01 12:30", std::nullopt}, {"shutdown/unsafe", 1709251200, 1709296200, -5}, ""},
      // An expression that does not parse leaves its bound out, and says so.
      {{2, "tomorrow", "-10Day", std::nullopt},
       {"shutdown/unsafe", std::nullopt, std::nullopt, 2},
       warning("--since", "\"tomorrow\"") + warning("--before", "\"-10Day\"")},
      {{2, "", "1970-01-01", std::nullopt}, {"shutdown/unsafe", std::nullopt, 0, 2}, warning("--since", "\"\"")},
      {{-1, "2025-12-03T00:00:00Z", std::nullopt, std::nullopt}, {"shutdown/unsafe", 1764720000, std::nullopt, -1}, ""},
      {{-1, "-10years", "-99999999999999999999day", std::nullopt},
       {"shutdown/unsafe", std::nullopt, std::nullopt, -1},
       warning("--since", "\"-10years\"") + warning("--before", "\"-99999999999999999999day\"")},
      // The warning names the option as it was given.
      {{-1, std::nullopt, "soon", std::nullopt, false, false, {}, false, false, {}, false, {}, "--until"},
       {"shutdown/unsafe", std::nullopt, std::nullopt, -1},
       warning("--until", "\"soon\"")},
      // The value is quoted so that nothing in it reaches a terminal raw.
      {{-1, "a\"b\x1b[2J\xff", std::nullopt, std::nullopt},
       {"shutdown/unsafe", std::nullopt, std::nullopt, -1},
       warning("--since", R"("a\"b\u001b[2J)" "\xEF\xBF\xBD\"")},
      // On a terminal, also what reorders or hides text.
      {{-1, "x\u202E\u2066\u200By", std::nullopt, std::nullopt}, {"shutdown/unsafe", std::nullopt, std::nullopt, -1},
       warning("--since", R"("x\u202e\u2066\u200by")"), true},
  };
  for (const auto& c : cases) {
    std::ostringstream err;
    const LogsQuery logs = make_logs_query(c.command, err, c.err_is_terminal);
    const ListQuery& query = logs.query;
    EXPECT_EQ(logs.bound_dropped, !c.err.empty());
    EXPECT_EQ(query.filter, c.expected.filter);
    EXPECT_EQ(query.since, c.expected.since);
    EXPECT_EQ(query.before, c.expected.before);
    EXPECT_EQ(query.limit, c.expected.limit);
    EXPECT_EQ(err.str(), c.err);
  }
}

// browse selects as list does and bounds time as logs does.
TEST(MakeBrowseQuery, FilterAsListTimeAsLogs) {
  const struct {
    BrowseCommand command;
    ListQuery expected;
    std::string err;
  } cases[] = {
      {{}, {"shutdown/unsafe", std::nullopt, std::nullopt}, ""},
      {{"x", true, {"a=1"}}, {"", std::nullopt, std::nullopt}, ""},
      {{"x", false, {}, "2024-03-01", "bad"}, {"x", 1709251200, std::nullopt}, warning("--before", "\"bad\"")},
  };
  for (const auto& c : cases) {
    std::ostringstream err;
    const ListQuery query = make_browse_query(c.command, err);
    EXPECT_EQ(query.filter, c.expected.filter);
    EXPECT_EQ(query.since, c.expected.since);
    EXPECT_EQ(query.before, c.expected.before);
    EXPECT_EQ(query.where.size(), c.command.where.size());
    EXPECT_EQ(err.str(), c.err);
  }
}

TEST(MakeLogsQuery, RelativeBoundsCountBackFromNow) {
  const std::int64_t before_call = os::now_seconds();
  std::ostringstream err;
  const ListQuery query = make_logs_query(LogsCommand{-1, "-2day", "--1day", std::nullopt}, err).query;
  const std::int64_t after_call = os::now_seconds();
  ASSERT_TRUE(query.since);
  ASSERT_TRUE(query.before);
  EXPECT_GE(*query.since, before_call - 172800);
  EXPECT_LE(*query.since, after_call - 172800);
  EXPECT_GE(*query.before, before_call + 86400);
  EXPECT_LE(*query.before, after_call + 86400);
  EXPECT_EQ(err.str(), "");
}

TEST(MakeLogsQuery, LogsWithoutOptionsListsLikeList) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  testing::write_file(root + "/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})");
  testing::write_file(root + "/shutdown/unsafe/b.json", R"({"boot_timestamp": 20})");
  testing::write_file(root + "/events/c.json", R"({"boot_timestamp": 30})");
  auto database = Database::open(root);
  ASSERT_TRUE(database);
  ASSERT_TRUE(database->sync(root));
  std::ostringstream list, logs, err;
  list_log_files(*database, root, make_list_query(ListCommand{}), list, err);
  list_log_files(*database, root, make_logs_query(LogsCommand{}, err).query, logs, err);
  EXPECT_NE(list.str(), "");
  EXPECT_EQ(logs.str(), list.str());
  EXPECT_EQ(err.str(), "");
}

TEST(OutputForms, FromTheFlags) {
  const struct {
    bool json, time;
    ListFormat format;
  } listings[] = {
      {false, false, ListFormat::Text},
      {false, true, ListFormat::Time},
      {true, false, ListFormat::Json},
      {true, true, ListFormat::Json},  // JSON carries the time anyway
  };
  for (const auto& c : listings) {
    EXPECT_EQ(make_list_query(ListCommand{std::nullopt, false, c.json, c.time}).format, c.format);
    std::ostringstream err;
    EXPECT_EQ(make_logs_query(LogsCommand{-1, std::nullopt, std::nullopt, std::nullopt, c.json, c.time}, err).query.format,
              c.format);
  }
  const struct {
    bool pretty, json;
    ShowFormat format;
  } shows[] = {
      {false, false, ShowFormat::Text},
      {true, false, ShowFormat::Pretty},
      {false, true, ShowFormat::Json},
      {true, true, ShowFormat::Pretty},
  };
  for (const auto& c : shows) EXPECT_EQ(show_format(ShowCommand{1, c.pretty, c.json}), c.format);
}

}  // namespace
}  // namespace vexlo
