#include "vexlo/query/list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "testing/child_process.h"
#include "testing/machine.h"
#include "testing/log_scan.h"
#include "testing/temp_dir.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

void write_log(const std::string& path, std::int64_t boot_timestamp,
               std::optional<std::int64_t> mtime = std::nullopt) {
  testing::write_file(path, "{\"boot_timestamp\": " + std::to_string(boot_timestamp) + "}", mtime);
}

struct Output {
  std::string out;
  std::string err;
};

Output run_listing(Database& database, const std::string& root, const ListQuery& query) {
  std::ostringstream out, err;
  list_log_files(database, root, query, out, err);
  return {out.str(), err.str()};
}

std::optional<Database> synced_database(const std::string& root) {
  auto database = Database::open(root);
  if (!database) {
    ADD_FAILURE() << "cannot open the database: " << database.error().text;
    return std::nullopt;
  }
  EXPECT_TRUE(database->sync(root));
  return std::move(*database);
}

ListQuery query(std::string filter, std::optional<std::int64_t> since = std::nullopt,
                std::optional<std::int64_t> before = std::nullopt, std::int64_t limit = -1) {
  return ListQuery{std::move(filter), since, before, limit};
}

// The query as a listing that --follow or --cursor-file go on from.
ListQuery oldest_first(ListQuery query, std::vector<WhereCondition> where = {}) {
  query.oldest_first = true;
  query.where = std::move(where);
  return query;
}

std::string lines(const std::vector<std::string>& listing) {
  std::string text;
  for (const auto& line : listing) text += line + "\n";
  return text;
}

// Six logs, numbered by the synchronisation in the order of their times:
//   a 100 -> 1, c 200 -> 2, e 250 -> 3, b 300 -> 4, d 400 -> 5, f 2100-01-01 -> 6.
class ListLogFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    write_log(root_ + "/shutdown/unsafe/a.json", 100);
    write_log(root_ + "/shutdown/unsafe/b.json", 300);
    write_log(root_ + "/shutdown/safe/c.json", 200);
    write_log(root_ + "/other/Shutdown/Unsafe/d.json", 400);
    write_log(root_ + "/other/shutdown/unsafe_e.json", 250);
    // Its own time counts, not the far older modification time.
    write_log(root_ + "/late/shutdown/unsafe/f.json", 4102444800, 1000);
    database_ = synced_database(root_);
    ASSERT_TRUE(database_);
  }

  std::string line(std::string_view id, std::string_view relative) const {
    return "[ID:" + std::string(id) + "] " + root_ + "/" + std::string(relative);
  }

  testing::ScopedTempDir dir_;
  std::string root_ = dir_ / "logs";
  std::optional<Database> database_;
};

TEST_F(ListLogFiles, SelectsOrdersAndLimits) {
  const std::string a = line("1", "shutdown/unsafe/a.json");
  const std::string c = line("2", "shutdown/safe/c.json");
  const std::string e = line("3", "other/shutdown/unsafe_e.json");
  const std::string b = line("4", "shutdown/unsafe/b.json");
  const std::string d = line("5", "other/Shutdown/Unsafe/d.json");
  const std::string f = line("6", "late/shutdown/unsafe/f.json");
  const std::string default_filter(kDefaultPathFilter);
  const struct {
    const char* name;
    ListQuery query;
    std::vector<std::string> expected;
  } cases[] = {
      {"default filter", query(default_filter), {f, b, e, a}},
      {"every path", query(""), {f, d, b, e, c, a}},
      {"part of a name", query("shutdown"), {f, b, e, c, a}},
      {"case-sensitive", query("SHUTDOWN/UNSAFE"), {}},
      {"capitals", query("Shutdown/Unsafe"), {d}},
      {"longer than any path", query(std::string(4096, 'x')), {}},
      {"whole path", query(root_ + "/shutdown/safe/c.json"), {c}},
      {"limit 2", query(default_filter, std::nullopt, std::nullopt, 2), {f, b}},
      {"limit 1", query(default_filter, std::nullopt, std::nullopt, 1), {f}},
      {"limit 0", query(default_filter, std::nullopt, std::nullopt, 0), {}},
      {"limit above count", query(default_filter, std::nullopt, std::nullopt, 100), {f, b, e, a}},
      {"largest limit", query(default_filter, std::nullopt, std::nullopt, kMax), {f, b, e, a}},
      {"limit -2", query(default_filter, std::nullopt, std::nullopt, -2), {}},
      {"limit -5", query(default_filter, std::nullopt, std::nullopt, -5), {}},
      {"smallest limit", query(default_filter, std::nullopt, std::nullopt, kMin), {}},
      {"since equal to a time", query(default_filter, 250), {f, b, e}},
      {"since just after", query(default_filter, 251), {f, b}},
      {"before equal to a time", query(default_filter, std::nullopt, 250), {a}},
      {"before just after", query(default_filter, std::nullopt, 251), {e, a}},
      {"window", query("", 200, 301), {b, e, c}},
      {"since equal to before", query("", 300, 300), {}},
      {"since after before", query("", 301, 300), {}},
      {"smallest bounds", query("", kMin, kMin), {}},
      {"widest window", query("", kMin, kMax), {f, d, b, e, c, a}},
      {"window and limit", query("", 200, 1000, 2), {d, b}},
      {"oldest first", oldest_first(query("")), {a, c, e, b, d, f}},
      {"newest 2 oldest first", oldest_first(query(default_filter, std::nullopt, std::nullopt, 2)), {b, f}},
      {"newest 2 that match, oldest first",
       oldest_first(query(default_filter, std::nullopt, std::nullopt, 2), {parse_where("boot_timestamp~1")}),
       {a, f}},
      {"above an ID", [] { ListQuery q; q.above_id = 3; return q; }(), {f, d, b}},
  };
  for (const auto& c : cases) {
    const Output output = run_listing(*database_, root_, c.query);
    EXPECT_EQ(output.out, lines(c.expected)) << c.name;
    EXPECT_EQ(output.err, "") << c.name;
  }
}

// One file in each form: the JSON and time lines carry what the text line
// does, and the time in the form that --since reads back.
TEST_F(ListLogFiles, EachFormatPrintsTheSameSelection) {
  const std::string path = root_ + "/late/shutdown/unsafe/f.json";
  const std::vector<std::string> fields = {"boot_timestamp", "missing"};
  const struct {
    ListFormat format;
    std::string line;
    std::vector<std::string> fields = {};
    bool terminal = false;
  } cases[] = {
      {ListFormat::Text, "[ID:6] " + path + "\n"},
      {ListFormat::Time, "[ID:6] 2100-01-01 00:00:00 " + path + "\n"},
      {ListFormat::Json,
       "{\"id\":6,\"path\":\"" + path + "\",\"time\":4102444800,\"time_utc\":\"2100-01-01T00:00:00Z\"}\n"},
      // --fields: after the path, tab-separated, or aligned on a terminal.
      {ListFormat::Text, "[ID:6] " + path + "\t4102444800\t-\n", fields},
      {ListFormat::Time, "[ID:6] 2100-01-01 00:00:00 " + path + "  4102444800  -\n", fields, true},
      {ListFormat::Json,
       "{\"id\":6,\"path\":\"" + path + "\",\"time\":4102444800,\"time_utc\":\"2100-01-01T00:00:00Z\","
       "\"fields\":{\"boot_timestamp\":\"4102444800\",\"missing\":null}}\n",
       fields},
  };
  for (const auto& c : cases) {
    ListQuery newest = query(std::string(kDefaultPathFilter), std::nullopt, std::nullopt, 1);
    newest.format = c.format;
    newest.fields = c.fields;
    std::ostringstream out, err;
    list_log_files(*database_, root_, newest, out, err, {c.terminal, false});
    EXPECT_EQ(out.str(), c.line);
    EXPECT_EQ(err.str(), "");
  }
}

TEST_F(ListLogFiles, FilesChangedSinceTheSynchronisationShowTheirNewTimes) {
  const std::string default_filter(kDefaultPathFilter);
  const Output before = run_listing(*database_, root_, query(default_filter));
  EXPECT_EQ(before.out, lines({line("6", "late/shutdown/unsafe/f.json"), line("4", "shutdown/unsafe/b.json"),
                               line("3", "other/shutdown/unsafe_e.json"), line("1", "shutdown/unsafe/a.json")}));
  write_log(root_ + "/shutdown/unsafe/a.json", 5000000000);
  testing::write_file(root_ + "/shutdown/unsafe/b.json", "{\"boot_timestamp\": 300");
  const Output after = run_listing(*database_, root_, query(default_filter));
  EXPECT_EQ(after.out, lines({line("1", "shutdown/unsafe/a.json"), line("6", "late/shutdown/unsafe/f.json"),
                              line("3", "other/shutdown/unsafe_e.json")}));
  EXPECT_EQ(after.err, "");
}

TEST_F(ListLogFiles, FileUnknownToTheDatabaseIsWarnedAboutAndListedWithIdZero) {
  write_log(root_ + "/shutdown/unsafe/new.json", 500);
  write_log(root_ + "/elsewhere/new.json", 600);
  // One stream for both, to see the warnings come before every listing line.
  std::ostringstream both;
  list_log_files(*database_, root_, query(std::string(kDefaultPathFilter), std::nullopt, std::nullopt, 2),
                 both, both);
  const std::string text = both.str();
  const std::string warn_selected =
      "Warning: File " + root_ + "/shutdown/unsafe/new.json not found in database\n";
  const std::string warn_dropped =
      "Warning: File " + root_ + "/elsewhere/new.json not found in database\n";
  const std::string listing = lines({line("6", "late/shutdown/unsafe/f.json"),
                                     line("0", "shutdown/unsafe/new.json")});
  EXPECT_TRUE(text == warn_selected + warn_dropped + listing ||
              text == warn_dropped + warn_selected + listing)
      << text;
}

TEST_F(ListLogFiles, EmptyDatabaseGivesOneWarningPerScannedFile) {
  testing::ScopedTempDir other;
  auto empty = Database::open(other.path());
  ASSERT_TRUE(empty);
  ASSERT_TRUE(empty->files().empty());
  const Output output = run_listing(*empty, root_, query(""));
  std::vector<FileEntry> scanned;
  ASSERT_TRUE(testing::scan_afresh(root_, scanned));
  std::string warnings;
  for (const auto& entry : scanned) warnings += "Warning: File " + entry.path.str() + " not found in database\n";
  EXPECT_EQ(output.err, warnings);
  EXPECT_EQ(output.out, lines({line("0", "late/shutdown/unsafe/f.json"),
                               line("0", "other/Shutdown/Unsafe/d.json"),
                               line("0", "shutdown/unsafe/b.json"),
                               line("0", "other/shutdown/unsafe_e.json"),
                               line("0", "shutdown/safe/c.json"),
                               line("0", "shutdown/unsafe/a.json")}));
}

TEST(ListLogFilesOrder, EqualTimesKeepScanOrder) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  // Enough names that a sort by name or an unstable sort would show.
  for (const char* name : {"m", "c", "x", "a", "q", "h", "z", "b", "k", "e"}) {
    write_log(root + "/" + name + ".json", 1000);
  }
  write_log(root + "/newest.json", 2000);
  write_log(root + "/oldest.json", 10);
  auto database = synced_database(root);
  ASSERT_TRUE(database);
  std::vector<FileEntry> scanned;
  ASSERT_TRUE(testing::scan_afresh(root, scanned));
  std::vector<std::string> expected = {root + "/newest.json"};
  for (const auto& entry : scanned) {
    if (entry.timestamp == 1000) expected.push_back(entry.path.str());
  }
  expected.push_back(root + "/oldest.json");

  const Output output = run_listing(*database, root, query(""));
  std::vector<std::string> printed;
  std::istringstream stream(output.out);
  for (std::string text; std::getline(stream, text);) {
    ASSERT_TRUE(text.starts_with("[ID:")) << text;
    printed.push_back(text.substr(text.find("] ") + 2));
  }
  EXPECT_EQ(printed, expected);
}

TEST(ListLogFilesRoot, RootContainingTheDefaultFilterSelectsEveryFile) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "shutdown/unsafe";
  write_log(root + "/x/a.json", 1);
  write_log(root + "/b.json", 2);
  auto database = synced_database(root);
  ASSERT_TRUE(database);
  const Output output = run_listing(*database, root, query(std::string(kDefaultPathFilter)));
  EXPECT_EQ(output.out, lines({"[ID:2] " + root + "/b.json", "[ID:1] " + root + "/x/a.json"}));
  EXPECT_EQ(output.err, "");
}

TEST(ListLogFilesRoot, EmptyOrMissingRootPrintsNothing) {
  testing::ScopedTempDir dir;
  const std::string fresh = dir / "fresh";
  auto database = synced_database(fresh);
  ASSERT_TRUE(database);
  for (const std::string& root : {fresh, dir / "missing"}) {
    const Output output = run_listing(*database, root, query(""));
    EXPECT_EQ(output.out, "") << root;
    EXPECT_EQ(output.err, "") << root;
  }
}

// The listing example: "logs 2" where the two newest selected files carry
// IDs 7 and 3.
TEST(ListLogFilesRoot, ListingExample) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "orvane";
  write_log(root + "/shutdown/unsafe/a.json", 200);
  write_log(root + "/shutdown/unsafe/b.json", 300);
  write_log(root + "/shutdown/unsafe/old.json", 100);
  testing::write_file(root + "/.config/vexlo-db.json",
                      "{\"files\": [{\"id\": 3, \"path\": \"" + root +
                          "/shutdown/unsafe/a.json\"}, {\"id\": 7, \"path\": \"" + root +
                          "/shutdown/unsafe/b.json\"}], \"next_file_id\": 8}");
  auto database = synced_database(root);
  ASSERT_TRUE(database);
  const Output output = run_listing(*database, root, query(std::string(kDefaultPathFilter), std::nullopt, std::nullopt, 2));
  EXPECT_EQ(output.out, "[ID:7] " + root + "/shutdown/unsafe/b.json\n[ID:3] " + root +
                            "/shutdown/unsafe/a.json\n");
  EXPECT_EQ(output.err, "");
}

TEST(ListLogFilesRoot, FailedScanIsReportedWithoutListing) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  write_log(root + "/shutdown/unsafe/a.json", 1);
  testing::make_dirs(root + "/locked");
  auto database = synced_database(root);
  ASSERT_TRUE(database);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(root.c_str(), 0333), 0);  // the log root itself: a subdirectory is passed over
  if (const std::string why = testing::why_no_second_user(dir.path()); !why.empty()) GTEST_SKIP() << why;
  std::string why;
  const auto listed = testing::run_unprivileged(
      [&] {
        const Output output = run_listing(*database, root, query(""));
        return "out: " + output.out + "err: " + output.err;
      },
      &why);
  ASSERT_TRUE(listed) << why;
  EXPECT_EQ(*listed, "out: err: Error traversing " + root + ": " + os::error_text(EACCES) + "\n");
}

// Times outside the years four digits write, paths with control
// characters, and files without an ID, in the time and JSON forms.
TEST(ListLogFilesFormats, UnusualTimesPathsAndUnknownFiles) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  write_log(root + "/old.json", -62167219201);
  write_log(root + "/far.json", kMax);
  write_log(root + "/esc\x1b[1m\x7f.json", 0);
  auto database = synced_database(root);
  ASSERT_TRUE(database);
  write_log(root + "/new.json", 5);  // after the synchronisation: ID 0

  ListQuery every = query("");
  every.format = ListFormat::Time;
  Output output = run_listing(*database, root, every);
  EXPECT_EQ(output.out, lines({"[ID:3] 9223372036854775807 " + root + "/far.json",
                               "[ID:0] 1970-01-01 00:00:05 " + root + "/new.json",
                               "[ID:2] 1970-01-01 00:00:00 " + root + "/esc\x1b[1m\x7f.json",
                               "[ID:1] -62167219201 " + root + "/old.json"}));
  EXPECT_EQ(output.err, "Warning: File " + root + "/new.json not found in database\n");

  every.format = ListFormat::Json;
  output = run_listing(*database, root, every);
  EXPECT_EQ(output.out,
            lines({"{\"id\":3,\"path\":\"" + root + "/far.json\",\"time\":9223372036854775807,\"time_utc\":null}",
                   "{\"id\":0,\"path\":\"" + root + "/new.json\",\"time\":5,\"time_utc\":\"1970-01-01T00:00:05Z\"}",
                   "{\"id\":2,\"path\":\"" + root +
                       "/esc\\u001b[1m\\u007f.json\",\"time\":0,\"time_utc\":\"1970-01-01T00:00:00Z\"}",
                   "{\"id\":1,\"path\":\"" + root + "/old.json\",\"time\":-62167219201,\"time_utc\":null}"}));
  EXPECT_EQ(output.err, "Warning: File " + root + "/new.json not found in database\n");
  // On a terminal the JSON lines escape the characters that reorder or hide text too.
  const FileEntry hidden{root + "/\u202e.json", 7, 0};
  testing::write_file(hidden.path.str(), "{\"\u202e\": 1}");
  every.content = true;
  std::ostringstream on_terminal, no_warnings;
  print_entries({&hidden, 1}, every, "", 1, on_terminal, no_warnings, {.out = true});
  EXPECT_EQ(on_terminal.str(), "{\"id\":7,\"path\":\"" + root + "/\\u202e.json\",\"time\":0,"
                               "\"time_utc\":\"1970-01-01T00:00:00Z\",\"log\":{\"\\u202e\":1}}\n");
}

}  // namespace
}  // namespace vexlo
