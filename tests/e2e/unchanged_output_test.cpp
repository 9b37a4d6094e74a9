// Runs without any of the options added after the first release must keep
// every byte they wrote then: a transcript of commands over the sample tree
// (standard output, standard error and exit status of each, in order, in
// one sandbox) is compared with the transcript kept in
// tests/e2e/golden/sample_tree.transcript, which was written by the release
// build, with the warnings about dropped arguments added since.
// VEXLO_UPDATE_GOLDEN=1 writes the file anew from the binary under
// test instead; only do that for a deliberate change of the output.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

using Args = std::vector<std::string>;

// Each run follows the ones before it in the same sandbox: the first
// numbers the files, the later ones keep the IDs.
const Args kRuns[] = {
    {"list"},
    {"list", "--all"},
    {"list", "safe"},
    {"list", "--filter", "events"},
    {"list", ""},
    {"list", "SHUTDOWN", "--all"},
    {"logs"},
    {"logs", "2"},
    {"logs", "0"},
    {"logs", "-1"},
    {"logs", "-5"},
    {"logs", "x", "--filter", ""},
    {"logs", "2", "--filter", "shutdown/"},
    {"logs", "--since", "2025-12-03", "--filter", "events"},
    {"logs", "--since", "2025-12-02 12:00", "--before", "2025-12-04", "--filter", ""},
    {"logs", "--since", "2025-12-04 23:01:50"},
    {"logs", "--before", "2025-12-04 23:01:50"},
    {"logs", "--since", "-100000day", "--filter", ""},
    {"show", "1"},
    {"show", "2"},
    {"show", "3"},
    {"show", "4"},
    {"show", "5"},
    {"show", "6"},
    {"show", "7"},
    {"show", "8"},
    {"show", "1", "--pretty"},
    {"show", "3", "--pretty"},
    {"show", "5", "--pretty"},
    {"show", "8", "--pretty"},
    {"show", "99"},
    {"show"},
    {"show", "--pretty"},
    {"show", "abc"},
    {"help"},
    {"bogus"},
    {"-v"},
};

std::string transcript_of(const Sandbox& sandbox) {
  std::ostringstream text;
  for (const Args& args : kRuns) {
    Args all = {"--config", "no-such-config.toml", "--log-path", "logroot"};
    all.insert(all.end(), args.begin(), args.end());
    const RunResult result = sandbox.run(all);
    text << "==== vexlo";
    for (const auto& arg : all) text << " [" << arg << "]";
    text << "\n---- status " << result.status << "\n---- stdout\n"
         << result.out << "---- stderr\n"
         << result.err;
  }
  return text.str();
}

TEST(UnchangedOutput, SampleTreeWithoutNewOptions) {
  const auto source = source_dir();
  if (!source) GTEST_SKIP() << "VEXLO_SOURCE_DIR is not set; the sample tree is not available";
  const std::string golden_path = *source + "/tests/e2e/golden/sample_tree.transcript";

  Sandbox sandbox;
  sandbox.copy_in(*source + "/examples/logroot", "logroot");
  const std::string transcript = transcript_of(sandbox);

  const char* update = std::getenv("VEXLO_UPDATE_GOLDEN");
  if (update != nullptr && std::string_view(update) == "1") {
    std::ofstream(golden_path, std::ios::binary) << transcript;
    GTEST_SKIP() << "wrote " << golden_path;
  }
  std::ifstream golden(golden_path, std::ios::binary);
  ASSERT_TRUE(golden) << "cannot read " << golden_path;
  const std::string expected{std::istreambuf_iterator<char>(golden), std::istreambuf_iterator<char>()};
  // Compared line by line first, so that a failure names the first change.
  std::istringstream got_lines(transcript), expected_lines(expected);
  std::string got_line, expected_line;
  for (int line = 1; std::getline(expected_lines, expected_line); ++line) {
    ASSERT_TRUE(std::getline(got_lines, got_line)) << "the transcript ends before line " << line;
    ASSERT_EQ(got_line, expected_line) << "line " << line << " of " << golden_path;
  }
  EXPECT_EQ(transcript, expected);
}

}  // namespace
}  // namespace vexlo::e2e
