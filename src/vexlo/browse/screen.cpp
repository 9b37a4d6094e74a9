// Every text reaches the terminal through put(), which shows control
// characters and characters that reorder or hide text escaped, so that
// nothing a log or a file name holds acts on the terminal. The texts the
// Browser holds are escaped already, as vexlo's terminal output is; put()
// escapes whatever still needs it.
//
// The screen waits for a key or a tenth of a second, after which curses
// says whether the window changed size and new logs are taken.

#include "vexlo/browse/screen.h"

#include <curses.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <clocale>
#include <string>
#include <string_view>

#include "vexlo/common/terminal_text.h"
#include "vexlo/common/utf8.h"
#include "vexlo/query/fields.h"
#include "vexlo/os/standard_streams.h"
#include "vexlo/os/stop_signals.h"

namespace vexlo::browse {
namespace {

using namespace std::chrono_literals;

constexpr auto kResizeCheck = 100ms;

bool needs_escapes(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7f || hidden_character_at(text, i)) return true;
  }
  return false;
}

// The bytes of the first `columns` characters of UTF-8 `text`.
std::size_t bytes_of_columns(std::string_view text, std::size_t columns) {
  std::size_t i = 0;
  for (std::size_t shown = 0; i < text.size(); ++i) {
    const bool starts_character = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts_character && shown++ == columns) break;
  }
  return i;
}

// Writes `text` at row `y`, column `x`, cut at `width` columns; returns
// the columns it took.
std::size_t put(std::size_t y, std::size_t x, std::string_view text, std::size_t width) {
  std::string safe = to_utf8_lossy(text);
  if (needs_escapes(safe)) {
    std::string escaped;
    append_visible(escaped, safe);
    safe = std::move(escaped);
  }
  const std::size_t bytes = bytes_of_columns(safe, width);
  mvaddnstr(static_cast<int>(y), static_cast<int>(x), safe.data(), static_cast<int>(bytes));
  return column_width(std::string_view(safe).substr(0, bytes));
}

// The attributes of each Style (styled_lines.h), as show colours them.
using Palette = std::array<attr_t, 5>;

enum ColourPair : short { kKeyPair = 1, kStringPair, kNullPair };

// With colour on a terminal that has colours, keys bold blue, strings
// green, null bold black (grey), brackets bold; otherwise all plain.
Palette start_colours(bool colour) {
  Palette palette{};
  if (!colour || has_colors() == FALSE) return palette;
  start_color();
  use_default_colors();  // the terminal's own background and plain text
  init_pair(kKeyPair, COLOR_BLUE, -1);
  init_pair(kStringPair, COLOR_GREEN, -1);
  init_pair(kNullPair, COLOR_BLACK, -1);
  palette[static_cast<std::size_t>(Style::Key)] = COLOR_PAIR(kKeyPair) | A_BOLD;
  palette[static_cast<std::size_t>(Style::String)] = COLOR_PAIR(kStringPair);
  palette[static_cast<std::size_t>(Style::Null)] = COLOR_PAIR(kNullPair) | A_BOLD;
  palette[static_cast<std::size_t>(Style::Bracket)] = A_BOLD;
  return palette;
}

// A line of the preview, each part in its style's attributes.
void put_styled(std::size_t y, std::string_view text, const std::vector<StyleStart>& starts, std::size_t cols,
                const Palette& palette) {
  move(static_cast<int>(y), 0);
  clrtoeol();
  std::size_t x = 0;
  for (std::size_t i = 0; i < starts.size() && x < cols; ++i) {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1].at : text.size();
    attrset(palette[static_cast<std::size_t>(starts[i].style)]);
    x += put(y, x, text.substr(starts[i].at, end - starts[i].at), cols - x);
  }
  attrset(A_NORMAL);
}

void put_line(std::size_t y, std::string_view text, std::size_t cols, bool highlighted = false) {
  if (highlighted) attron(A_REVERSE);
  move(static_cast<int>(y), 0);
  clrtoeol();
  if (highlighted) hline(' ', static_cast<int>(cols));
  put(y, 0, text, cols);
  if (highlighted) attroff(A_REVERSE);
}

std::string header(const Browser& browser) {
  std::string text = "vexlo browse: " + std::to_string(browser.listed_count());
  if (browser.listed_count() != browser.selected_count()) text += " of " + std::to_string(browser.selected_count());
  text += browser.selected_count() == 1 ? " log" : " logs";
  if (!browser.filter_line().empty()) text += "  [" + browser.filter_line() + "]";
  return text;
}

void draw_timeline(const Browser& browser) {
  const Layout& layout = browser.layout();
  const Timeline& timeline = browser.timeline();
  const std::vector<std::size_t> heights = bar_heights(timeline, layout.bar_rows);
  const std::size_t first = first_shown_bar(timeline, browser.bar(), layout.cols);
  for (std::size_t row = 0; row < layout.bar_rows; ++row) {
    const std::size_t y = 1 + row;
    move(static_cast<int>(y), 0);
    clrtoeol();
    const std::size_t level = layout.bar_rows - row;  // the height this row shows
    for (std::size_t i = first; i < heights.size() && i - first < layout.cols; ++i) {
      const bool chosen = browser.bar() == i;
      char glyph = heights[i] >= level ? '#' : ' ';
      if (glyph == ' ' && level == 1) glyph = '_';  // the baseline of an empty bucket
      if (chosen) attron(A_REVERSE);
      mvaddch(static_cast<int>(y), static_cast<int>(i - first), static_cast<chtype>(glyph));
      if (chosen) attroff(A_REVERSE);
    }
  }
  put_line(1 + layout.bar_rows, bar_caption(timeline, browser.bar()), layout.cols);
}

void draw_list(const Browser& browser) {
  const Layout& layout = browser.layout();
  const Scroll& list = browser.list();
  for (std::size_t row = 0; row < layout.list_rows; ++row) {
    const std::size_t line = list.top() + row;
    const std::size_t y = layout.list_top + row;
    if (line < browser.listed_count()) {
      put_line(y, browser.shown_rows()[row], layout.cols, line == list.cursor());
    } else {
      put_line(y, "", layout.cols);
    }
  }
}

void draw_preview(const Browser& browser, std::size_t title_y, std::size_t rows, const Palette& palette) {
  const Layout& layout = browser.layout();
  std::string title = "--- ";
  if (browser.listed_count() > 0) title += list_row(browser.listed(browser.list().cursor()));
  put_line(title_y, title, layout.cols, true);
  const auto& lines = browser.preview_lines();
  for (std::size_t row = 0; row < rows; ++row) {
    const std::size_t line = browser.preview_top() + row;
    if (line < lines.size()) {
      put_styled(title_y + 1 + row, lines[line], browser.preview_styles()[line], layout.cols, palette);
    } else {
      put_line(title_y + 1 + row, "", layout.cols);
    }
  }
}

constexpr std::string_view kListKeys = "q quit  j/k move  Left/Right bar  Esc all  Enter open  J/K scroll  f filter";
constexpr std::string_view kFullKeys = "q back  j/k scroll  Space page  / search  n next";

void draw_footer(const Browser& browser) {
  const Layout& layout = browser.layout();
  put_line(layout.rows - 2, browser.message(), layout.cols);
  switch (browser.mode()) {
    case Mode::List: put_line(layout.rows - 1, kListKeys, layout.cols, true); break;
    case Mode::Full: put_line(layout.rows - 1, kFullKeys, layout.cols, true); break;
    case Mode::Filter: put_line(layout.rows - 1, "Filter: " + browser.typed(), layout.cols); break;
    case Mode::Search: put_line(layout.rows - 1, "/" + browser.typed(), layout.cols); break;
  }
}

void draw(const Browser& browser, const Palette& palette) {
  const Layout& layout = browser.layout();
  erase();
  if (layout.too_small) {
    put(0, 0, "The window is too small for vexlo browse (q quits)", layout.cols);
  } else if (browser.mode() == Mode::Full || browser.mode() == Mode::Search) {
    draw_preview(browser, 0, layout.rows - 3, palette);
    draw_footer(browser);
  } else {
    put_line(0, header(browser), layout.cols);
    draw_timeline(browser);
    draw_list(browser);
    draw_preview(browser, layout.preview_top, layout.preview_rows, palette);
    draw_footer(browser);
  }
  // The cursor shows only where text is typed.
  curs_set(browser.mode() == Mode::Filter || browser.mode() == Mode::Search ? 1 : 0);
  refresh();
}

std::optional<Key> key_of(int code) {
  using Code = Key::Code;
  switch (code) {
    case KEY_UP: return Key{Code::Up};
    case KEY_DOWN: return Key{Code::Down};
    case KEY_PPAGE: return Key{Code::PageUp};
    case KEY_NPAGE: return Key{Code::PageDown};
    case KEY_HOME: return Key{Code::Home};
    case KEY_END: return Key{Code::End};
    case KEY_LEFT: return Key{Code::Left};
    case KEY_RIGHT: return Key{Code::Right};
    case KEY_ENTER:
    case '\n':
    case '\r': return Key{Code::Enter};
    case 27: return Key{Code::Escape};
    case 3: return Key{Code::Interrupt};
    case KEY_BACKSPACE:
    case 127:
    case 8: return Key{Code::Backspace};
    default: break;
  }
  if (code >= 0 && code <= 0xff) return Key{Code::Text, static_cast<char>(code)};
  return std::nullopt;
}

// Restores the terminal however the view ends.
struct Terminal {
  SCREEN* screen;
  ~Terminal() {
    endwin();
    delscreen(screen);
  }
};

std::pair<std::size_t, std::size_t> screen_size() {
  return {static_cast<std::size_t>(std::max(LINES, 1)), static_cast<std::size_t>(std::max(COLS, 1))};
}

}  // namespace

Result<void> run_screen(const std::function<Browser(std::size_t rows, std::size_t cols)>& make_browser,
                        const TakeNews& take_news, int stop_fd, ScreenStyle style) {
  // Multibyte characters of paths and logs are drawn as the locale says.
  std::setlocale(LC_CTYPE, "");
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) return std::unexpected(Error{"the terminal type is not known"});
  const Terminal terminal{screen};
  // Ctrl-C comes as a key that ends the view, not as a signal, so that it
  // ends the view also where the signals could not be blocked.
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  const Palette palette = start_colours(style.colour);

  const auto [rows, cols] = screen_size();
  Browser browser = make_browser(rows, cols);
  for (bool running = true; running;) {
    draw(browser, palette);
    // A stop signal ends the view as `q` does, the terminal given back.
    const auto ready = os::wait_readable({os::kStandardInput, stop_fd}, kResizeCheck);
    if (ready && *ready == 1U) break;
    // A terminal that has gone reads as ready for ever and gives no key;
    // the view ends rather than spin.
    if (ready && *ready == 0U && os::hung_up(os::kStandardInput)) break;
    if (take_news) take_news(browser);
    for (int code = getch(); running && code != ERR; code = getch()) {
      if (code == KEY_RESIZE) {
        const auto [now_rows, now_cols] = screen_size();
        browser.resize(now_rows, now_cols);
      } else if (const auto key = key_of(code)) {
        running = browser.press(*key);
      }
    }
  }
  return {};
}

}  // namespace vexlo::browse
