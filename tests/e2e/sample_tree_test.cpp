// The sample log tree of the repository, as the demo runs it: IDs follow the
// files' boot times, listings come newest first, and show prints a file in
// both forms.

#include <gtest/gtest.h>

#include <sstream>

#include "e2e/harness.h"
#include "testing/temp_dir.h"

namespace vexlo::e2e {
namespace {

// The sample files in ascending "boot_timestamp" order, which is the order
// in which a first run numbers them.
const char* const kSampleFiles[] = {
    "events/events-1764547200.json",         "shutdown/safe/shutdown-1764600102.json",
    "shutdown/unsafe/panic-1764633722.json", "shutdown/unsafe/oops-1764712050.json",
    "events/events-1764720000.json",         "shutdown/safe/shutdown-1764802477.json",
    "shutdown/unsafe/watchdog-1764889310.json", "events/events-1764892800.json",
};

// The flat text form of shutdown/safe/shutdown-1764600102.json (ID 2).
constexpr std::string_view kSafeShutdownText =
    "boot_timestamp\n1764600102\n\n"
    "kernel\n"
    "kernel.release\n6.1.0-28-amd64\n\n"
    "kernel.uptime_secs\n412877\n\n"
    "memory\n"
    "memory.available_kb\n14102116\n\n"
    "memory.total_kb\n16318212\n\n"
    "reason\npoweroff\n\n"
    "services\n"
    "services.name\norvane-rivura.service\n\n"
    "services.stop_secs\n0.42\n\n"
    "services.name\npostgresql@15-main.service\n\n"
    "services.stop_secs\n3.9\n\n"
    "shutdown\n"
    "shutdown.initiated_by\nsystemd-logind\n\n"
    "shutdown.requested_at\n1764600071\n\n"
    "shutdown.target\npoweroff.target\n\n"
    "type\nshutdown_safe\n\n";

class SampleTree : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto source = source_dir();
    if (!source) GTEST_SKIP() << "VEXLO_SOURCE_DIR is not set; the sample tree is not available";
    config_ = *source + "/examples/vexlo.toml";
    sandbox_.copy_in(*source + "/examples/logroot", "logroot");
    root_ = sandbox_.path("logroot");
  }

  RunResult run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--config", config_, "--log-path", root_};
    all.insert(all.end(), args.begin(), args.end());
    return sandbox_.run(all);
  }

  // Listing lines for the given IDs (1-based into kSampleFiles).
  std::string lines(std::initializer_list<int> ids) const {
    std::string text;
    for (const int id : ids) text += "[ID:" + std::to_string(id) + "] " + root_ + "/" + kSampleFiles[id - 1] + "\n";
    return text;
  }

  std::string expected_database() const {
    std::vector<std::pair<std::uint64_t, std::string>> entries;
    for (std::size_t i = 0; i < std::size(kSampleFiles); ++i) entries.emplace_back(i + 1, root_ + "/" + kSampleFiles[i]);
    return database_text(entries, std::size(kSampleFiles) + 1);
  }

  Sandbox sandbox_;
  std::string config_;
  std::string root_;
};

TEST_F(SampleTree, ListAllNumbersByBootTimeAndPrintsNewestFirst) {
  const RunResult result = run({"list", "--all"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, lines({8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_TRUE(database_matches(sandbox_.read("logroot/.config/vexlo-db.json"), expected_database(), result.started_at,
                               result.ended_at));
}

TEST_F(SampleTree, LaterRunsKeepTheIds) {
  ASSERT_EQ(run({"list", "--all"}).status, 0);
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"list"}, lines({7, 4, 3})},
      {{"list", "shutdown"}, lines({7, 6, 4, 3, 2})},
      {{"list", "events"}, lines({8, 5, 1})},
      {{"logs", "2"}, lines({7, 4})},
      {{"logs", "--filter", "/safe/", "--since", "2025-12-02"}, lines({6})},
      {{"logs", "--before", "2025-12-02 00:02:02"}, lines({})},
      {{"logs", "--before", "2025-12-02 00:02:03"}, lines({3})},
      {{"show", "99"}, ""},
  };
  for (const auto& c : cases) {
    const RunResult result = run(c.args);
    EXPECT_EQ(result.status, c.args[0] == "show" ? 1 : 0) << result;  // ID 99 is not known
    EXPECT_EQ(result.out, c.out) << c.args[0];
    EXPECT_TRUE(database_matches(sandbox_.read("logroot/.config/vexlo-db.json"), expected_database(),
                                 result.started_at, result.ended_at));
  }
}

TEST_F(SampleTree, ShowPrintsTextAndPrettyForms) {
  RunResult result = run({"show", "2"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, kSafeShutdownText);

  // That file is kept in the tool's own pretty layout, so --pretty gives it
  // back byte for byte.
  result = run({"show", "2", "--pretty"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, sandbox_.read("logroot/shutdown/safe/shutdown-1764600102.json"));

  result = run({"show", "99"});
  EXPECT_EQ(result.status, 1) << result;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "File with ID 99 not found\n");
}

// An example of a document: the command after "$ " and the lines it prints
// (standard error and output together), up to an ellipsis when the rest is
// left out. A block that cannot run here (it needs another user, say) is
// marked "not checked:" with the reason on the line before it.
struct Example {
  std::string command;
  std::string shown;
  bool whole = true;
};

// The text of a line of the manual page's examples, without roff escapes.
std::string roff_text(std::string_view line) {
  std::string text;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      text += line[i];
    } else if (const char c = line[++i]; c == '(') {
      const std::string_view name = line.substr(i + 1, 2);
      text += name == "aq" ? "'" : name == "dq" ? "\"" : "\\";
      i += 2;
    } else if (c == 'f') {
      ++i;  // a change of font
    } else if (c != '&') {
      text += c == 'e' ? '\\' : c;
    }
  }
  return text;
}

std::vector<Example> examples_in(const std::string& document, bool roff) {
  std::vector<Example> examples;
  std::istringstream lines(document);
  bool in_block = false, checked = true;
  Example* example = nullptr;  // the last of this block
  for (std::string line, before; std::getline(lines, line); before = line) {
    if (!in_block && (roff ? line == ".EX" : line.starts_with("```"))) {
      in_block = true;
      checked = before.find("not checked:") == std::string::npos;
      example = nullptr;
    } else if (in_block && (roff ? line == ".EE" : line == "```")) {
      in_block = false;
    } else if (in_block && checked) {
      const std::string text = roff ? roff_text(line) : line;
      if (text.starts_with("$ ")) {
        example = &examples.emplace_back(text.substr(2), "");
      } else if (example != nullptr && (text == "…" || text == "...")) {
        example->whole = false;
      } else if (example != nullptr && example->whole) {
        example->shown += text + '\n';
      }
    }
  }
  return examples;
}

std::size_t count(std::string_view text, std::string_view part) {
  std::size_t found = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

// The examples of the README and the manual page, run in their order over
// the sample tree as "logroot" in the working directory.
TEST_F(SampleTree, ExamplesOfTheDocumentsPrintWhatTheyShow) {
  const auto shell = [this](const std::string& command) {
    const std::string bin = binary_path().substr(0, binary_path().rfind('/'));
    return sandbox_.run_argv({"sh", "-c", "PATH=" + bin + ":$PATH; " + command},
                             {.merge_stderr = true, .binary = "/bin/sh"});
  };
  ASSERT_EQ(shell("command -v jq").status, 0) << "jq is not installed (Debian package jq); examples use it";
  for (const std::string document : {"README.md", "man/vexlo.1"}) {
    const auto examples = examples_in(testing::read_file(*source_dir() + "/" + document), document.ends_with(".1"));
    for (const Example& example : examples) {
      // Nothing outside the sandbox is touched, and the sample tree has one name.
      ASSERT_EQ(count(example.command, "vexlo "), count(example.command, "vexlo --log-path logroot "))
          << document << ": an example on another log root must be marked as not checked: $ " << example.command;
      const std::string out = shell(example.command).out;
      EXPECT_EQ(example.whole ? out : out.substr(0, example.shown.size()), example.shown)
          << document << ": $ " << example.command;
    }
    EXPECT_GE(examples.size(), 8u) << document;
  }
}

}  // namespace
}  // namespace vexlo::e2e
