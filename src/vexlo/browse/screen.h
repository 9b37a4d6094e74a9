#pragma once
// The view on the terminal: the one part of vexlo that speaks to a screen
// through curses. It draws what a Browser holds and hands it the keys.

#include <functional>

#include "vexlo/browse/browser.h"
#include "vexlo/common/error.h"

namespace vexlo::browse {

// Hands the browser what came in since it was last called, such as new
// logs; called at least ten times a second.
using TakeNews = std::function<void(Browser& browser)>;

// How the view looks beyond its texts.
struct ScreenStyle {
  bool colour = false;  // the preview's JSON coloured by kind, where the terminal has colours
};

// Takes over the terminal on the standard descriptors, runs the view until
// `q` or until `stop_fd` becomes readable (a stop signal; -1 for none), and
// gives the terminal back as it was. Fails, before anything is drawn, when
// the terminal cannot be set up.
Result<void> run_screen(const std::function<Browser(std::size_t rows, std::size_t cols)>& make_browser,
                        const TakeNews& take_news, int stop_fd, ScreenStyle style);

}  // namespace vexlo::browse
