#include "vexlo/browse/browser.h"

#include <gtest/gtest.h>

namespace vexlo::browse {
namespace {

using Code = Key::Code;
constexpr std::int64_t kDec4 = 1764806400;  // 2025-12-04 00:00:00 UTC

// Logs 1 to `count`, one a day, newest first; a filter line "few" selects
// the three newest and says a warning. Each preview is the ID and 30 lines.
Source fake_source(std::size_t count, std::vector<std::string>* lines_asked = nullptr) {
  return {
      [=](std::string_view line) {
        if (lines_asked) lines_asked->emplace_back(line);
        Listing listing;
        const std::size_t listed = line == "few" ? 3 : count;
        for (std::size_t id = count; id > count - listed; --id) {
          listing.entries.push_back({"root/" + std::to_string(id) + ".json", id, kDec4 + std::int64_t(id) * kDay});
        }
        if (line == "few") listing.messages = "Warning: first\nWarning: last\n";
        return listing;
      },
      [](const FileEntry& entry) {
        std::string text = "id " + std::to_string(entry.id) + "\n";
        // Coloured as show colours it: the search looks through the colours.
        for (int i = 0; i < 30; ++i) text += "line \x1b[0;32m" + std::to_string(i) + "\x1b[0m\n";
        return text;
      },
      [](const FileEntry& entry) { return std::vector<std::string>{entry.id % 10 == 0 ? "tenth" : "-"}; },
  };
}

std::vector<Key> typed(std::string_view text) {
  std::vector<Key> keys;
  for (const char c : text) keys.push_back({Code::Text, c});
  return keys;
}

TEST(Browser, KeysMoveChooseBarsFilterAndSearch) {
  const Key kDown{Code::Down}, kUp{Code::Up}, kLeft{Code::Left}, kRight{Code::Right}, kEnter{Code::Enter},
      kEscape{Code::Escape}, kEnd{Code::End}, kPageDown{Code::PageDown}, kBack{Code::Backspace};
  const struct {
    std::vector<Key> keys;
    std::size_t cursor;         // in the list
    std::size_t listed;         // logs listed
    std::string_view preview;   // its first line shown
    Mode mode = Mode::List;
    std::string_view message = "";
  } cases[] = {
      {{}, 0, 100, "id 100"},
      {{kDown, kDown, kUp}, 1, 100, "id 99"},
      {{kUp, kEnd, kDown}, 99, 100, "id 1"},
      {{kPageDown}, 6, 100, "id 94"},  // the list shows 6 rows at 80x24
      {typed("jjJJ"), 2, 100, "line 1"},
      {{kLeft}, 0, 1, "id 100"},
      {{kLeft, kLeft, kLeft, kRight}, 0, 1, "id 99"},
      {{kLeft, kEscape, kDown}, 1, 100, "id 99"},
      {{kRight}, 0, 100, "id 100"},
      {{kEnter}, 0, 100, "id 100", Mode::Full},
      {{kEnter, {Code::Text, 'q'}}, 0, 100, "id 100"},
      {{kDown, kEnter, kPageDown, kEscape}, 1, 100, "line 9"},  // the preview keeps its place
      {[&] {
         auto keys = typed("f");
         keys.push_back(kBack);
         for (const Key& k : typed("few")) keys.push_back(k);
         keys.push_back(kEnter);
         return keys;
       }(),
       0, 3, "id 100", Mode::List, "Warning: last"},
      {typed("fx"), 0, 100, "id 100", Mode::Filter},
      {[&] {
         auto keys = std::vector<Key>{kEnter};
         for (const Key& k : typed("/line 7")) keys.push_back(k);
         keys.push_back(kEnter);
         return keys;
       }(),
       0, 100, "line 7", Mode::Full},
      {[&] {
         auto keys = std::vector<Key>{kEnter};
         for (const Key& k : typed("/nowhere")) keys.push_back(k);
         keys.push_back(kEnter);
         return keys;
       }(),
       0, 100, "id 100", Mode::Full, "Not found: nowhere"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    Browser browser(fake_source(100), "", 24, 80);
    for (const Key& key : c.keys) EXPECT_TRUE(browser.press(key)) << i;
    EXPECT_EQ(browser.list().cursor(), c.cursor) << i;
    EXPECT_EQ(browser.listed_count(), c.listed) << i;
    EXPECT_EQ(browser.preview_lines().at(browser.preview_top()), c.preview) << i;
    EXPECT_EQ(browser.mode(), c.mode) << i;
    EXPECT_EQ(browser.message(), c.message) << i;
  }
}

TEST(Browser, QuitsOnQAndTypesNoControlBytes) {
  std::vector<std::string> lines;
  Browser browser(fake_source(5, &lines), "--all", 24, 80);
  for (const Key& key : typed("f\x1b[2J\x07")) browser.press(key);
  browser.press({Code::Backspace});
  browser.press({Code::Enter});
  EXPECT_EQ(lines, (std::vector<std::string>{"--all", "--all[2"}));
  EXPECT_FALSE(browser.press({Code::Text, 'q'}));
  browser.press({Code::Text, 'f'});
  EXPECT_FALSE(browser.press({Code::Interrupt}));
}

TEST(Browser, NewLogsKeepTheCursorOnItsLog) {
  Browser browser(fake_source(10), "", 24, 80);
  browser.press({Code::Down});  // on ID 9
  browser.add_new({{"root/new.json", 11, kDec4 + 11 * kDay}, {"root/old.json", 12, kDec4}}, "Warning: said\n");
  EXPECT_EQ(browser.listed_count(), 12u);
  EXPECT_EQ(browser.listed(0).id, 11u);
  EXPECT_EQ(browser.listed(11).id, 12u);
  EXPECT_EQ(browser.listed(browser.list().cursor()).id, 9u);
  EXPECT_EQ(browser.message(), "Warning: said");
  EXPECT_EQ(browser.timeline().counts.back(), 1u);
}

TEST(Layout, FitsAnyScreenFromTheSmallest) {
  for (std::size_t rows = 1; rows < 60; ++rows) {
    for (const std::size_t cols : {1, 39, 40, 80, 200}) {
      const Layout layout = make_layout(rows, cols);
      EXPECT_EQ(layout.too_small, rows < kMinRows || cols < kMinCols);
      if (layout.too_small) continue;
      EXPECT_GE(layout.list_rows, 2u);
      EXPECT_GE(layout.preview_rows, 2u);
      EXPECT_EQ(layout.preview_top + 1 + layout.preview_rows + 2, rows);  // the title, message line, footer
    }
  }
}

// The rows on the screen carry the cells of their logs, aligned.
TEST(Browser, ShowsTheFieldsOfTheRowsOnTheScreen) {
  Browser browser(fake_source(100), "", 24, 80);
  const auto& rows = browser.shown_rows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], "[ID:100] 2026-03-14 00:00:00 root/100.json  tenth");
  EXPECT_EQ(rows[1], "[ID:99] 2026-03-13 00:00:00 root/99.json    -");
  browser.press({Code::End});
  EXPECT_EQ(browser.shown_rows().back(), "[ID:1] 2025-12-05 00:00:00 root/1.json  -");
}

TEST(ListRow, IsTheLineOfListTimeEscaped) {
  EXPECT_EQ(list_row({"root/a\x1b" "b.json", 7, kDec4}), "[ID:7] 2025-12-04 00:00:00 root/a\\x1bb.json");
}

}  // namespace
}  // namespace vexlo::browse
