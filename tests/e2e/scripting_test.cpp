// The forms meant for scripts and readers, on the sample tree: JSON lines
// that say what the text lines say, times that --since reads back, show as
// one line of JSON, --version, and a time bound that is dropped out loud.

#include <gtest/gtest.h>

#include <sstream>

#include "e2e/harness.h"
#include "testing/json_equal.h"
#include "vexlo/json/json.h"

namespace vexlo::e2e {
namespace {

using Args = std::vector<std::string>;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The text without the white space that lies outside strings.
std::string without_layout(std::string_view json) {
  std::string text;
  bool in_string = false;
  bool escaped = false;
  for (const char c : json) {
    if (in_string) {
      in_string = escaped || c != '"';
      escaped = !escaped && c == '\\';
    } else if (c == ' ' || c == '\n') {
      continue;
    } else {
      in_string = c == '"';
    }
    text += c;
  }
  return text;
}

class Scripting : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto source = source_dir();
    if (!source) GTEST_SKIP() << "VEXLO_SOURCE_DIR is not set; the sample tree is not available";
    sandbox_.copy_in(*source + "/examples/logroot", "logroot");
    ASSERT_EQ(run({"list"}).status, 0);  // numbers the files
  }

  RunResult run(const Args& args) const {
    Args all = {"--config", "no-such-config.toml", "--log-path", "logroot"};
    all.insert(all.end(), args.begin(), args.end());
    return sandbox_.run(all);
  }

  // Runs `args` and `args` with `option`, expecting both to succeed quietly.
  std::pair<std::vector<std::string>, std::vector<std::string>> both_forms(const Args& args,
                                                                           const std::string& option) const {
    Args with = args;
    with.push_back(option);
    const RunResult plain = run(args);
    const RunResult formed = run(with);
    EXPECT_EQ(plain.status, 0) << plain;
    EXPECT_EQ(formed.status, 0) << formed;
    EXPECT_EQ(formed.err, plain.err);
    return {lines_of(plain.out), lines_of(formed.out)};
  }

  Sandbox sandbox_;
};

const Args kListings[] = {
    {"list"},
    {"list", "--all"},
    {"list", "safe"},
    {"logs", "2", "--filter", ""},
    {"logs", "--since", "2025-12-03", "--filter", "events"},
    {"logs", "--since", "2025-12-02 12:00", "--before", "2025-12-04", "--filter", ""},
    {"logs", "0"},
    {"list", "--filter", "no such path"},
};

std::string shown(const Args& args) {
  std::string text;
  for (const auto& arg : args) text += "[" + arg + "]";
  return text;
}

// Each JSON line is one object, keys in the order id, path, time, time_utc,
// naming the file of the text line in the same place, with the time that
// --time shows in RFC 3339 form.
TEST_F(Scripting, JsonLinesAgreeWithTheTextAndTimeForms) {
  for (const Args& args : kListings) {
    const auto [text, json_lines] = both_forms(args, "--json");
    const auto [same_text, time_lines] = both_forms(args, "--time");
    ASSERT_EQ(json_lines.size(), text.size()) << shown(args);
    ASSERT_EQ(time_lines.size(), text.size()) << shown(args);
    for (std::size_t i = 0; i < text.size(); ++i) {
      const std::string& line = json_lines[i];
      auto document = json::parse(line);
      ASSERT_TRUE(document) << line;
      const json::Value object = document->root();
      ASSERT_EQ(object.kind(), json::Kind::Object) << line;
      ASSERT_EQ(object.size(), 4u) << line;
      EXPECT_TRUE(line.starts_with("{\"id\":")) << line;
      const std::string id = std::to_string(object.find("id")->as_unsigned());
      const std::string path(object.find("path")->as_string());
      const std::int64_t time = object.find("time")->as_signed();
      const std::string time_utc(object.find("time_utc")->as_string());
      // The keys in the order written, each once.
      const std::size_t at_path = line.find(",\"path\":");
      const std::size_t at_time = line.find(",\"time\":");
      const std::size_t at_utc = line.find(",\"time_utc\":");
      EXPECT_TRUE(at_path < at_time && at_time < at_utc && at_utc != std::string::npos) << line;

      EXPECT_EQ(text[i], "[ID:" + id + "] " + path) << shown(args);
      // The sample files carry their boot time in their names.
      EXPECT_TRUE(path.ends_with("-" + std::to_string(time) + ".json")) << line;
      const std::string calendar = time_utc.substr(0, 10) + " " + time_utc.substr(11, 8);
      EXPECT_EQ(time_utc.size(), 20u) << line;
      EXPECT_TRUE(time_utc.ends_with("Z")) << line;
      EXPECT_EQ(time_lines[i], "[ID:" + id + "] " + calendar + " " + path) << shown(args);
    }
  }
}

// The time a listing shows selects the file again: --since at that time
// keeps it, --before that time drops it.
TEST_F(Scripting, TimeRoundTripsThroughSinceAndBefore) {
  const RunResult all = run({"list", "--all", "--time"});
  ASSERT_EQ(all.status, 0) << all;
  const auto lines = lines_of(all.out);
  ASSERT_EQ(lines.size(), 8u) << all;
  for (const std::string& line : lines) {
    const std::size_t start = line.find("] ") + 2;
    const std::string time = line.substr(start, 19);
    const std::string path = line.substr(start + 20);
    const RunResult since = run({"logs", "--since", time, "--filter", path, "--time"});
    EXPECT_EQ(since.out, line + "\n") << time;
    EXPECT_EQ(since.err, "") << time;
    const RunResult before = run({"logs", "--before", time, "--filter", path});
    EXPECT_EQ(before.out, "") << time;
    EXPECT_EQ(before.err, "") << time;
  }
}

TEST_F(Scripting, ShowJsonIsThePrettyDocumentOnOneLine) {
  for (int id = 1; id <= 8; ++id) {
    const std::string n = std::to_string(id);
    const RunResult pretty = run({"show", n, "--pretty"});
    const RunResult compact = run({"show", n, "--json"});
    ASSERT_EQ(compact.status, 0) << compact;
    EXPECT_EQ(compact.err, "");
    ASSERT_TRUE(compact.out.ends_with("\n")) << compact.out;
    EXPECT_EQ(compact.out.find('\n'), compact.out.size() - 1) << compact.out;
    // Same members in the same order, same number text.
    EXPECT_EQ(compact.out, without_layout(pretty.out) + "\n") << id;
    auto from_compact = json::parse(compact.out);
    auto from_pretty = json::parse(pretty.out);
    ASSERT_TRUE(from_compact && from_pretty) << id;
    EXPECT_TRUE(testing::json_equal(from_compact->root(), from_pretty->root())) << id;
    // --pretty wins over --json, in either order.
    EXPECT_EQ(run({"show", n, "--json", "--pretty"}).out, pretty.out);
    EXPECT_EQ(run({"show", n, "--pretty", "--json"}).out, pretty.out);
  }
  const RunResult missing = run({"show", "99", "--json"});
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "File with ID 99 not found\n");
}

TEST(Version, BeforeTheCommandWordOrAlone) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 1})"});
  const std::string version = std::string("vexlo ") + VEXLO_VERSION + "\n";
  const Args runs[] = {
      {"--version"},
      {"--config", "no-such-config.toml", "--version"},
      {"--log-path", "logs", "--version", "list"},
      {"--read-only", "--version", "show", "1"},
      {"--version", "--config"},
  };
  const auto before = sandbox.snapshot();
  for (const Args& args : runs) {
    const RunResult result = sandbox.run(args);
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(result.out, version) << shown(args);
    EXPECT_EQ(result.err, "") << shown(args);
    EXPECT_EQ(sandbox.snapshot(), before) << shown(args);  // no database, nothing read
  }
  // After the command word it is an unknown option, ignored as ever.
  const RunResult list = sandbox.run({"--config", "no-such-config.toml", "--log-path", "logs", "list", "--version"});
  EXPECT_EQ(list.out, "[ID:1] logs/shutdown/unsafe/a.json\n");
}

// A bound that yields no instant is left out as before, and the listing is
// the one without it; but standard error now says so.
TEST_F(Scripting, DroppedTimeBoundIsReported) {
  const std::string forms = " is not a time expression and is ignored (use -<number>day or YYYY-MM-DD [HH:MM[:SS]])\n";
  const struct {
    Args args;
    Args without;
    std::string err;
  } cases[] = {
      {{"logs", "--since", "last week"}, {"logs"}, "Warning: --since value \"last week\"" + forms},
      {{"logs", "--since", "2025-12-03 T00:00:00", "--filter", ""},
       {"logs", "--filter", ""},
       "Warning: --since value \"2025-12-03 T00:00:00\"" + forms},
      {{"logs", "--since", "2025-12-02", "--until", "later", "--json"},
       {"logs", "--since", "2025-12-02", "--json"},
       "Warning: --until value \"later\"" + forms},
  };
  for (const auto& c : cases) {
    const RunResult result = run(c.args);
    const RunResult without = run(c.without);
    EXPECT_EQ(result.status, 2) << result;
    EXPECT_NE(without.out, "") << shown(c.without);
    EXPECT_EQ(result.out, without.out) << shown(c.args);
    EXPECT_EQ(result.err, c.err) << shown(c.args);
  }
}

// --where selects as the text form reads, --content carries what show
// --json prints, and --follow prints a log that arrives after the listing.
TEST_F(Scripting, WhereContentAndFollow) {
  const std::string panic = "[ID:3] logroot/shutdown/unsafe/panic-1764633722.json\n";
  const struct {
    Args args;
    std::string out;
  } selections[] = {
      {{"logs", "--where", "reason=kernel_panic"}, panic},
      {{"list", "--where", "kernel.release~28", "--where", "pstore.part=1"}, panic},
      {{"logs", "--where", "entries.level=error", "--filter", "events"},
       "[ID:5] logroot/events/events-1764720000.json\n"},
      {{"logs", "--where", "reason=kernel"}, ""},
  };
  for (const auto& c : selections) {
    const RunResult result = run(c.args);
    EXPECT_EQ(result.out, c.out) << shown(c.args);
    EXPECT_EQ(result.err, "") << shown(c.args);
  }
  const auto lines = lines_of(run({"list", "--all", "--json"}).out);
  const auto with_content = lines_of(run({"list", "--all", "--json", "--content"}).out);
  ASSERT_EQ(with_content.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string id = lines[i].substr(6, lines[i].find(',') - 6);
    const std::string log = run({"show", id, "--json"}).out;
    EXPECT_EQ(with_content[i], lines[i].substr(0, lines[i].size() - 1) + ",\"log\":" + log.substr(0, log.size() - 1) + "}");
  }

  // The new file is written once the listing is out (the tree is watched
  // by then), and SIGTERM is sent once its line is. Two names that read
  // alike, in a new directory, are said once, though the round of the panic
  // that comes after the warning meets them again. The panic's name is no
  // UTF-8, so its content is read through the name's own bytes.
  const std::string vexlo = binary_path();
  const std::string script =
      "'" + vexlo + "' --config none.toml --log-path logroot logs 1 --follow --where reason=kernel_panic > out 2> err & "
      "while [ ! -s out ]; do sleep 0.05; done; "
      "cp logroot/shutdown/safe/shutdown-1764600102.json logroot/shutdown/unsafe/safe.json; mkdir logroot/x; "
      "for b in 376 377; do cp logroot/shutdown/unsafe/safe.json logroot/x/a$(printf \\\\$b).json; done; "
      "while [ ! -s err ]; do sleep 0.05; done; "
      "cp logroot/shutdown/unsafe/panic-1764633722.json logroot/shutdown/unsafe/panic-$(printf \\\\377).json; "
      "while [ $(wc -l < out) -lt 2 ]; do sleep 0.05; done; kill -TERM $!; wait $!; echo status $?; cat out; cat err >&2";
  const RunResult follow = sandbox_.run_argv({"sh", "-c", script}, {.binary = "/bin/sh"});
  EXPECT_EQ(follow.out, "status 0\n" + panic + "[ID:11] logroot/shutdown/unsafe/panic-\xEF\xBF\xBD.json\n") << follow;
  EXPECT_EQ(follow.err, "Warning: Two file names in logroot/x read as the same path; one of the files is passed over\n");
  // The older shutdowns were numbered first; the printed ID was kept.
  EXPECT_NE(run({"list", "--where", "reason=kernel_panic"}).out.find("[ID:11] logroot/shutdown/unsafe/panic-\xEF\xBF\xBD.json\n"),
            std::string::npos);
}

}  // namespace
}  // namespace vexlo::e2e
