#include "vexlo/app/output_status.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vexlo {
namespace {

TEST(ExitStatusAfterOutput, WriteErrorsOverrideTheRunStatus) {
  const struct {
    int run_status;
    std::optional<Error> error;
    int status;
    std::string_view message;
  } cases[] = {
      {0, std::nullopt, 0, ""},
      {1, std::nullopt, 1, ""},
      {0, Error{"Broken pipe (os error 32)", EPIPE}, kBrokenPipeStatus, ""},
      {1, Error{"Broken pipe (os error 32)", EPIPE}, kBrokenPipeStatus, ""},
      {0, Error{"No space left on device (os error 28)", ENOSPC}, 1,
       "vexlo: error writing output: No space left on device (os error 28)\n"},
      {0, Error{"Bad file descriptor (os error 9)", EBADF}, 1,
       "vexlo: error writing output: Bad file descriptor (os error 9)\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream err;
    EXPECT_EQ(exit_status_after_output(c.run_status, c.error, err), c.status);
    EXPECT_EQ(err.str(), c.message);
  }
}

}  // namespace
}  // namespace vexlo
