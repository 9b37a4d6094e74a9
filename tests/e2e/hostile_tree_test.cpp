// Log trees that a careless or hostile writer can leave below the log root:
// links back to a parent, very deep nesting, names that are no plain text,
// pipes and devices with a log file's name, log files that turned into
// directories. Every run ends in time, in order, with a sound database.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNoConfig = "no-such-config.toml";

RunResult run_on(const Sandbox& sandbox, const std::string& log_root, std::vector<std::string> args) {
  std::vector<std::string> all = {"--config", kNoConfig, "--log-path", log_root};
  all.insert(all.end(), args.begin(), args.end());
  return sandbox.run(all, {.timeout = 20s});
}

std::string log_with_time(int boot_timestamp) {
  return "{\"boot_timestamp\": " + std::to_string(boot_timestamp) + ", \"reason\": \"panic\"}";
}

void make_symlink(const std::string& target, const std::string& link) {
  if (::symlink(target.c_str(), link.c_str()) != 0) throw std::runtime_error("symlink " + link);
}

TEST(HostileTree, LinksBackToAParentListEachFileOnce) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", log_with_time(10)});
  sandbox.write({"logs/events/b.json", log_with_time(20)});
  make_symlink("..", sandbox.path("logs/shutdown/unsafe/up"));
  make_symlink("..", sandbox.path("logs/events/root"));

  for (int run = 0; run < 2; ++run) {
    const RunResult result = run_on(sandbox, "logs", {"list", "--all"});
    EXPECT_FALSE(result.timed_out) << result;
    EXPECT_LE(result.ended_at - result.started_at, 5);
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "[ID:2] logs/events/b.json\n[ID:1] logs/shutdown/unsafe/a.json\n");
    EXPECT_TRUE(database_matches(sandbox.read(database_path("logs")),
                                 database_text({{1, "logs/shutdown/unsafe/a.json"}, {2, "logs/events/b.json"}}, 3),
                                 result.started_at, result.ended_at));
  }
}

std::string nested(const std::string& name, int depth) {
  std::string path;
  for (int i = 0; i < depth; ++i) path += name + "/";
  return path;
}

TEST(HostileTree, AThousandLevelsDeep) {
  Sandbox sandbox;
  const std::string middle = "deep/" + nested("d", 500) + "middle.json";
  const std::string bottom = "deep/" + nested("d", 1000) + "bottom.json";
  sandbox.write({middle, log_with_time(1)});
  sandbox.write({bottom, "{\"boot_timestamp\": 2, \"depth\": 1000}"});
  sandbox.write({"deep/" + nested("d", 1001) + "below.json", log_with_time(3)});

  RunResult result = run_on(sandbox, "deep", {"list", "--all"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "Warning: directory deep/" + nested("d", 1001).substr(0, 2001) +
                            " passed over: more than 1000 directories deep\n");
  EXPECT_EQ(result.out, "[ID:2] " + bottom + "\n[ID:1] " + middle + "\n");

  result = run_on(sandbox, "deep", {"show", "2"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.out, "boot_timestamp\n2\n\ndepth\n1000\n\n");
}

// Makes directories nested `depth` levels below `top`, one descriptor at a
// time, since their full paths grow past what the system resolves at once.
// Writes a log file named `file` at the given levels.
void make_deep_chain(const std::string& top, const std::string& name, int depth,
                     const std::vector<std::pair<int, std::string>>& files) {
  testing::make_dirs(top);
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 1; fd >= 0 && level <= depth; ++level) {
    if (::mkdirat(fd, name.c_str(), 0755) != 0) break;
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    for (const auto& [at, file] : files) {
      if (at != level) continue;
      const int out = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      const std::string content = log_with_time(level);
      const bool written = out >= 0 && ::write(out, content.data(), content.size()) == static_cast<ssize_t>(content.size());
      if (out >= 0) ::close(out);
      if (!written) throw std::runtime_error("cannot write a log file in the deep chain");
    }
  }
  if (fd < 0) throw std::runtime_error("cannot make the deep chain");
  ::close(fd);
}

TEST(HostileTree, PathsLongerThanTheSystemResolves) {
  Sandbox sandbox;
  // 1000 levels of 10-byte names: the deeper paths are far beyond PATH_MAX.
  const std::string name = "dddddddddd";
  make_deep_chain(sandbox.path("long"), name, 1000, {{100, "reachable.json"}, {1000, "too-deep.json"}});

  const RunResult result = run_on(sandbox, "long", {"list", "--all"});
  // Tear the chain down with a tool that walks by descriptors; the sandbox
  // removal works with whole paths.
  const std::string remove = "rm -rf '" + sandbox.path("long") + "'";
  EXPECT_EQ(std::system(remove.c_str()), 0);

  EXPECT_FALSE(result.timed_out) << result;
  EXPECT_EQ(result.status, 0) << result;
  std::string too_long = "long";
  while (too_long.size() < 4096) too_long += "/" + name;
  EXPECT_EQ(result.err, "Warning: directory " + too_long + " passed over: File name too long (os error 36)\n");
  EXPECT_EQ(result.out, "[ID:1] long/" + nested(name, 100) + "reachable.json\n");
}

TEST(HostileTree, NamesThatAreNoPlainText) {
  Sandbox sandbox;
  const std::string dir = "logs/shutdown/unsafe/";
  const struct {
    std::string name;   // as on disk
    std::string shown;  // as listed and kept in the database
  } files[] = {
      {"new\nline.json", "new\nline.json"},
      {"quo\"te.json", "quo\"te.json"},
      {"back\\slash.json", "back\\slash.json"},
      {"bad\xff.json", "bad\xEF\xBF\xBD.json"},
      {"odd\xfe\tdir/x.json", "odd\xEF\xBF\xBD\tdir/x.json"},
      {"bell\x07 'and' \xC3\xA9.json", "bell\x07 'and' \xC3\xA9.json"},
  };
  std::string listing;
  std::vector<std::pair<std::uint64_t, std::string>> entries;
  for (int i = 0; i < static_cast<int>(std::size(files)); ++i) {
    sandbox.write({dir + files[i].name, log_with_time(i + 1)});
    listing = "[ID:" + std::to_string(i + 1) + "] " + dir + files[i].shown + "\n" + listing;
    entries.emplace_back(i + 1, dir + files[i].shown);
  }

  for (int run = 0; run < 2; ++run) {
    const RunResult result = run_on(sandbox, "logs", {"list"});
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, listing);
    EXPECT_TRUE(database_matches(sandbox.read(database_path("logs")), database_text(entries, 7), result.started_at,
                                 result.ended_at));
  }

  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"show", "1"}, "boot_timestamp\n1\n\nreason\npanic\n\n"},
      {{"show", "2", "--pretty"}, "{\n  \"boot_timestamp\": 2,\n  \"reason\": \"panic\"\n}\n"},
      {{"show", "3"}, "boot_timestamp\n3\n\nreason\npanic\n\n"},
      // The database holds the name as text; the file the scan found by
      // its bytes is the one shown.
      {{"show", "4"}, "boot_timestamp\n4\n\nreason\npanic\n\n"},
      {{"show", "5"}, "boot_timestamp\n5\n\nreason\npanic\n\n"},
      {{"show", "6"}, "boot_timestamp\n6\n\nreason\npanic\n\n"},
      // --where and --content read the file the scan found.
      {{"list", "--where", "boot_timestamp=4"}, "[ID:4] " + dir + files[3].shown + "\n"},
      {{"list", "quo\"te"}, "[ID:2] " + dir + "quo\"te.json\n"},
      {{"list", "\n"}, "[ID:1] " + dir + "new\nline.json\n"},
  };
  for (const auto& c : cases) {
    const RunResult result = run_on(sandbox, "logs", c.args);
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(result.out, c.out) << c.args[1];
    EXPECT_EQ(result.err, "") << c.args[1];
  }
}

TEST(HostileTree, PipesAndDevicesAreNoLogFiles) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", log_with_time(10)});
  ASSERT_EQ(::mkfifo(sandbox.path("logs/shutdown/unsafe/x.json").c_str(), 0644), 0);
  // A character device like /dev/zero would never end if it were read.
  const bool have_device =
      ::mknod(sandbox.path("logs/shutdown/unsafe/zero.json").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;
  if (!have_device) std::cout << "cannot make a device node here; testing the FIFO alone\n";

  const RunResult result = run_on(sandbox, "logs", {"list", "--all"});
  EXPECT_FALSE(result.timed_out) << result;
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[ID:1] logs/shutdown/unsafe/a.json\n");
  EXPECT_TRUE(database_matches(sandbox.read(database_path("logs")),
                               database_text({{1, "logs/shutdown/unsafe/a.json"}}, 2), result.started_at,
                               result.ended_at));
}

TEST(HostileTree, LogFileReplacedByADirectory) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", log_with_time(10)});
  sandbox.write({"logs/shutdown/unsafe/b.json", log_with_time(20)});
  ASSERT_EQ(run_on(sandbox, "logs", {"list"}).out,
            "[ID:2] logs/shutdown/unsafe/b.json\n[ID:1] logs/shutdown/unsafe/a.json\n");

  ASSERT_EQ(::unlink(sandbox.path("logs/shutdown/unsafe/b.json").c_str()), 0);
  sandbox.write({"logs/shutdown/unsafe/b.json/c.json", log_with_time(30)});

  RunResult result = run_on(sandbox, "logs", {"show", "2"});
  EXPECT_EQ(result.status, 1) << result;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "File with ID 2 not found\n");

  result = run_on(sandbox, "logs", {"list"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[ID:3] logs/shutdown/unsafe/b.json/c.json\n[ID:1] logs/shutdown/unsafe/a.json\n");
  EXPECT_TRUE(database_matches(
      sandbox.read(database_path("logs")),
      database_text({{1, "logs/shutdown/unsafe/a.json"}, {3, "logs/shutdown/unsafe/b.json/c.json"}}, 4),
      result.started_at, result.ended_at));
}

}  // namespace
}  // namespace vexlo::e2e
