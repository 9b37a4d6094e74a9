#pragma once
// The view on the terminal: the one part of vexlo that speaks to a screen
// through curses. It draws what a Browser holds and hands it the keys.

#include <functional>
#include <optional>

#include "vexlo/browse/browser.h"
#include "vexlo/common/error.h"

namespace vexlo::browse {

// Where new logs come from while the view runs: a descriptor that becomes
// readable when some may be there, and the call that hands them over.
struct LiveLogs {
  int fd = -1;
  std::function<void(Browser& browser)> take;
};

// Takes over the terminal on the standard descriptors, runs the view until
// `q`, and gives the terminal back as it was. Fails, before anything is
// drawn, when the terminal cannot be set up.
Result<void> run_screen(const std::function<Browser(std::size_t rows, std::size_t cols)>& make_browser,
                        const std::optional<LiveLogs>& live);

}  // namespace vexlo::browse
