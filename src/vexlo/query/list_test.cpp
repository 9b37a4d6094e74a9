#include "vexlo/query/list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

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

Output run_listing(const Database& database, const std::string& root, const ListQuery& query) {
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

std::string lines(const std::vector<std::string>& listing) {
  std::string text;
  for (const auto& line : listing) text += line + "\n";
  return text;
}

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
  }
}

TEST(MakeLogsQuery, FieldsFromCommand) {
  const struct {
    LogsCommand command;
    ListQuery expected;
  } cases[] = {
      {{}, {"shutdown/unsafe", std::nullopt, std::nullopt, -1}},
      {{5, std::nullopt, std::nullopt, ""}, {"", std::nullopt, std::nullopt, 5}},
      {{0, std::nullopt, std::nullopt, "boot"}, {"boot", std::nullopt, std::nullopt, 0}},
      {{-5, "2024-03-01", "2024-03-01 12:30", std::nullopt},
       {"shutdown/unsafe", 1709251200, 1709296200, -5}},
      // An expression that does not parse leaves its bound out.
      {{2, "yesterday", "-10Day", std::nullopt}, {"shutdown/unsafe", std::nullopt, std::nullopt, 2}},
      {{2, "", "1970-01-01", std::nullopt}, {"shutdown/unsafe", std::nullopt, 0, 2}},
  };
  for (const auto& c : cases) {
    const ListQuery query = make_logs_query(c.command);
    EXPECT_EQ(query.filter, c.expected.filter);
    EXPECT_EQ(query.since, c.expected.since);
    EXPECT_EQ(query.before, c.expected.before);
    EXPECT_EQ(query.limit, c.expected.limit);
  }
}

TEST(MakeLogsQuery, RelativeBoundsCountBackFromNow) {
  const std::int64_t before_call = os::now_seconds();
  const ListQuery query = make_logs_query(LogsCommand{-1, "-2day", "--1day", std::nullopt});
  const std::int64_t after_call = os::now_seconds();
  ASSERT_TRUE(query.since);
  ASSERT_TRUE(query.before);
  EXPECT_GE(*query.since, before_call - 172800);
  EXPECT_LE(*query.since, after_call - 172800);
  EXPECT_GE(*query.before, before_call + 86400);
  EXPECT_LE(*query.before, after_call + 86400);
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
  };
  for (const auto& c : cases) {
    const Output output = run_listing(*database_, root_, c.query);
    EXPECT_EQ(output.out, lines(c.expected)) << c.name;
    EXPECT_EQ(output.err, "") << c.name;
  }
}

TEST_F(ListLogFiles, LogsWithoutOptionsListsLikeList) {
  const Output list = run_listing(*database_, root_, make_list_query(ListCommand{}));
  const Output logs = run_listing(*database_, root_, make_logs_query(LogsCommand{}));
  EXPECT_NE(list.out, "");
  EXPECT_EQ(logs.out, list.out);
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
  ASSERT_TRUE(scan_log_files(root_, scanned));
  std::string warnings;
  for (const auto& entry : scanned) warnings += "Warning: File " + entry.path + " not found in database\n";
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
  const auto database = synced_database(root);
  ASSERT_TRUE(database);
  std::vector<FileEntry> scanned;
  ASSERT_TRUE(scan_log_files(root, scanned));
  std::vector<std::string> expected = {root + "/newest.json"};
  for (const auto& entry : scanned) {
    if (entry.timestamp == 1000) expected.push_back(entry.path);
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
  const auto database = synced_database(root);
  ASSERT_TRUE(database);
  const Output output = run_listing(*database, root, make_list_query(ListCommand{}));
  EXPECT_EQ(output.out, lines({"[ID:2] " + root + "/b.json", "[ID:1] " + root + "/x/a.json"}));
  EXPECT_EQ(output.err, "");
}

TEST(ListLogFilesRoot, EmptyOrMissingRootPrintsNothing) {
  testing::ScopedTempDir dir;
  const std::string fresh = dir / "fresh";
  const auto database = synced_database(fresh);
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
  const auto database = synced_database(root);
  ASSERT_TRUE(database);
  const Output output = run_listing(*database, root, make_logs_query(LogsCommand{2, {}, {}, {}}));
  EXPECT_EQ(output.out, "[ID:7] " + root + "/shutdown/unsafe/b.json\n[ID:3] " + root +
                            "/shutdown/unsafe/a.json\n");
  EXPECT_EQ(output.err, "");
}

// Takes away the effective root privileges for its lifetime, so that file
// permissions apply to the test.
class UnprivilegedScope {
 public:
  UnprivilegedScope() : saved_(::geteuid()) {
    if (saved_ == 0) dropped_ = ::seteuid(65534) == 0;
  }
  ~UnprivilegedScope() {
    if (dropped_) {
      EXPECT_EQ(::seteuid(saved_), 0);
    }
  }
  bool permissions_apply() const { return saved_ != 0 || dropped_; }

 private:
  uid_t saved_;
  bool dropped_ = false;
};

TEST(ListLogFilesRoot, FailedScanIsReportedWithoutListing) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  write_log(root + "/shutdown/unsafe/a.json", 1);
  testing::make_dirs(root + "/locked");
  const auto database = synced_database(root);
  ASSERT_TRUE(database);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
  ASSERT_EQ(::chmod((root + "/locked").c_str(), 0), 0);
  Output output;
  {
    UnprivilegedScope unprivileged;
    if (!unprivileged.permissions_apply()) {
      GTEST_SKIP() << "file permissions cannot be enforced here";
    }
    output = run_listing(*database, root, query(""));
  }
  EXPECT_EQ(output.out, "");
  EXPECT_EQ(output.err, "Error traversing " + root + ": " + os::error_text(EACCES) + "\n");
}

}  // namespace
}  // namespace vexlo
