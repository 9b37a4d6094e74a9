// `browse` in a real terminal: tmux runs it in a window of its own, the
// test types keys into it and reads what the window shows. What each key
// does is tested in browse/browser_test.cpp; this is about the whole
// program on a terminal: what it draws, resizing, quitting, escaping.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <thread>

#include "e2e/harness.h"
#include "testing/machine.h"
#include "testing/temp_dir.h"

namespace vexlo::e2e {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

constexpr const char* kTmux = "/usr/bin/tmux";

// One tmux server of the test's own, with the view in its only window.
class BrowseInTmux : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = testing::why_no_program(kTmux); !why.empty()) GTEST_SKIP() << why;
    const auto source = source_dir();
    if (!source) GTEST_SKIP() << "VEXLO_SOURCE_DIR is not set; the sample tree is not available";
    sandbox_.copy_in(*source + "/examples/logroot", "logroot");
    sandbox_.write({"logroot/shutdown/unsafe/evil\x1b[2J.json", R"({"boot_timestamp": 1764000000})"});
    // The shell keeps the view's exit status, which tmux may not learn, and
    // the view's process ID, for a signal.
    ASSERT_EQ(tmux({"new-session", "-d", "-e", "NO_COLOR=", "-s", "view", "-x", "80", "-y", "24", "-c",
                    sandbox_.root(), "/bin/sh", "-c",
                    R"(/bin/sh -c 'echo $$ > pid; exec "$0" "$@"' "$0" "$@"; echo $? > status)", binary_path(),
                    "--config", "no-such-config.toml", "--log-path", "logroot", "browse"}),
              "");
    tmux({"set-option", "-t", "view", "remain-on-exit", "on"});
  }

  void TearDown() override {
    if (started_) tmux({"kill-server"});
  }

  std::string tmux(Args args) {
    started_ = true;
    Args argv = {"tmux", "-S", sandbox_.path("tmux.socket"), "-f", "/dev/null"};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult result = sandbox_.run_argv(argv, {.binary = kTmux});
    EXPECT_EQ(result.status, 0) << result;
    return result.out;
  }

  std::string screen() { return tmux({"capture-pane", "-p", "-t", "view"}); }

  // The screen once it shows every one of `texts`, or the last one after
  // ten seconds. A screen may be taken while the view is still drawing it,
  // so what a check looks at is waited for too.
  std::string screen_with(std::initializer_list<std::string_view> texts) {
    const auto shows_all = [&](const std::string& shown) {
      return std::ranges::all_of(texts, [&](std::string_view text) { return shown.contains(text); });
    };
    std::string shown;
    for (int i = 0; i < 200; ++i) {
      shown = screen();
      if (shows_all(shown)) break;
      std::this_thread::sleep_for(50ms);
    }
    for (const std::string_view text : texts) {
      EXPECT_TRUE(shown.contains(text)) << "waiting for \"" << text << "\" on\n" << shown;
    }
    return shown;
  }
  std::string screen_with(std::string_view text) { return screen_with({text}); }

  // The view's exit status once it has ended, or "" after ten seconds.
  std::string status() {
    for (int i = 0; i < 200 && (!sandbox_.exists("status") || sandbox_.read("status").empty()); ++i) {
      std::this_thread::sleep_for(50ms);
    }
    return sandbox_.exists("status") ? sandbox_.read("status") : "";
  }

  void keys(Args keys) {
    keys.insert(keys.begin(), {"send-keys", "-t", "view"});
    tmux(keys);
  }

  Sandbox sandbox_;
  bool started_ = false;
};

TEST_F(BrowseInTmux, OpenMoveFilterChooseABarResizeAndQuit) {
  // Open: newest first, the newest previewed, every text escaped.
  std::string shown = screen_with({"vexlo browse: 4 logs", "\"boot_timestamp\": 1764889310", "evil\\x1b[2J.json", "q quit"});

  // A new log: listed with the ID the database keeps for it.
  sandbox_.write({"logroot/shutdown/unsafe/new.json", R"({"boot_timestamp": 1764990000})"});
  shown = screen_with({"vexlo browse: 5 logs", "new.json"});
  const std::size_t id_at = shown.find("[ID:");
  ASSERT_NE(id_at, std::string::npos) << shown;
  const std::string new_row = shown.substr(id_at, shown.find('\n', id_at) - id_at);
  EXPECT_NE(new_row.find("new.json"), std::string::npos) << shown;
  const RunResult listed = sandbox_.run({"--config", "no-such-config.toml", "--log-path", "logroot", "list"});
  EXPECT_NE(listed.out.find(new_row.substr(0, new_row.find(' '))), std::string::npos) << listed << new_row;

  keys({"j"});  // the cursor stayed on its log, the second now
  screen_with("\"boot_timestamp\": 1764712050");

  keys({"Left"});
  screen_with({"2025-12-06: 1 log", "vexlo browse: 1 of 5 logs"});

  keys({"Escape", "f", "--where reason=oops", "Enter"});
  screen_with({"vexlo browse: 1 log ", "[--where reason=oops]"});

  tmux({"resize-window", "-t", "view", "-x", "100", "-y", "30"});
  shown = screen_with("Left/Right bar");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 30) << shown;

  keys({"q"});
  EXPECT_EQ(status(), "0\n");
}

TEST_F(BrowseInTmux, FieldsColourAndAStopSignal) {
  keys({"f", "oops --fields reason", "Enter"});
  screen_with({"oops-1764712050.json  oops", "\"boot_timestamp\""});
  // The preview's keys bold blue, as show colours them.
  EXPECT_TRUE(tmux({"capture-pane", "-e", "-p", "-t", "view"}).contains("34m\"boot_timestamp\""));

  // SIGTERM from outside ends the view as q does: the terminal given back.
  ASSERT_EQ(::kill(std::stoi(sandbox_.read("pid")), SIGTERM), 0);
  EXPECT_EQ(status(), "0\n");
  EXPECT_FALSE(screen().contains("q quit"));
}

// A terminal that goes away (its window closed, tmux gone) ends the view,
// which must not spin on a terminal that reads as ready for ever.
TEST_F(BrowseInTmux, AClosedTerminalEndsTheView) {
  screen_with("q quit");
  const std::string process = "/proc/" + sandbox_.read("pid").substr(0, sandbox_.read("pid").find('\n')) + "/stat";
  tmux({"kill-server"});
  started_ = false;
  // Gone, or a zombie nobody reaps.
  const auto ended = [&] {
    const std::string stat = std::filesystem::exists(process) ? testing::read_file(process) : "";
    return stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z";
  };
  for (int i = 0; i < 200 && !ended(); ++i) std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(ended()) << testing::read_file(process);
  if (!ended()) ::kill(std::stoi(sandbox_.read("pid")), SIGKILL);
}

TEST(Browse, WithoutATerminalSaysSoAndEndsWithStatus2) {
  Sandbox sandbox;
  const RunResult result = sandbox.run({"--config", "no-such-config.toml", "--log-path", "logroot", "browse"});
  EXPECT_EQ(result.status, 2) << result;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error: browse needs a terminal on standard input and standard output\n");
  EXPECT_FALSE(sandbox.exists("logroot"));
}

}  // namespace
}  // namespace vexlo::e2e
