#pragma once
// The state of the interactive view and what each key does to it, apart
// from any terminal: the screen (screen.h) draws what this holds and turns
// the terminal's keys into Key values.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vexlo/browse/scroll.h"
#include "vexlo/browse/styled_lines.h"
#include "vexlo/browse/timeline.h"
#include "vexlo/db/file_entry.h"

namespace vexlo::browse {

// What the filter line selects.
struct Listing {
  std::vector<FileEntry> entries;  // newest first
  std::string messages;            // the lines a listing would say on standard error
};

// Where the view gets its logs from.
struct Source {
  // The logs the words of a filter line select, read as the words after
  // `browse` on the command line.
  std::function<Listing(std::string_view filter_line)> list;
  // The log as `show --pretty` prints it to a terminal, coloured or not, or
  // the message that says why it cannot be shown.
  std::function<std::string(const FileEntry&)> preview;
  // The cells of the fields the filter line last asked for (--fields),
  // escaped for a terminal; none without. Asked only for the rows shown.
  std::function<std::vector<std::string>(const FileEntry&)> cells;
};

struct Key {
  // Interrupt: Ctrl-C, which ends the view in every mode.
  enum class Code { Text, Up, Down, PageUp, PageDown, Home, End, Left, Right, Enter, Escape, Backspace, Interrupt };
  Code code = Code::Text;
  char text = 0;  // one byte of typed text, with Code::Text
};

enum class Mode {
  List,    // moving through the list
  Filter,  // typing the filter line
  Full,    // the log alone on the screen
  Search,  // typing a text to look for in the log
};

// Where each part goes on a screen of `rows` by `cols`: from the top, a
// header line, the timeline's bars and their caption, the list, the
// preview's title and lines, a message line and the footer.
struct Layout {
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::size_t bar_rows = 0;
  std::size_t list_top = 0;
  std::size_t list_rows = 0;
  std::size_t preview_top = 0;   // its title; the lines follow
  std::size_t preview_rows = 0;  // below the title
  bool too_small = false;  // the view needs kMinRows by kMinCols
};
inline constexpr std::size_t kMinRows = 12;
inline constexpr std::size_t kMinCols = 40;
Layout make_layout(std::size_t rows, std::size_t cols);

// A list row: the line of `list --time`, its path escaped for a terminal.
std::string list_row(const FileEntry& entry);

// The line under the bars: the chosen bar's time and count, or the span
// the strip covers.
std::string bar_caption(const Timeline& timeline, std::optional<std::size_t> bar);

// The first of the bars that a strip `width` columns wide shows: the
// newest fill it, unless the chosen bar lies further back.
std::size_t first_shown_bar(const Timeline& timeline, std::optional<std::size_t> bar, std::size_t width);

class Browser {
 public:
  Browser(Source source, std::string filter_line, std::size_t rows, std::size_t cols);

  void resize(std::size_t rows, std::size_t cols);
  // False once the view is to end.
  bool press(const Key& key);
  // Logs that appeared since, selected by the filter line; kept in time
  // order, with the cursor staying on the log it was on.
  void add_new(std::vector<FileEntry> entries, std::string_view messages);

  const Layout& layout() const { return layout_; }
  Mode mode() const { return mode_; }
  // All logs the filter line selected, and of those the ones listed: all,
  // or those of the chosen bar.
  std::size_t selected_count() const { return entries_.size(); }
  std::size_t listed_count() const { return listed_.size(); }
  const FileEntry& listed(std::size_t row) const { return entries_[listed_[row]]; }
  const Scroll& list() const { return list_; }
  // The list's rows on the screen, from the list's top: list_row and the
  // cells of the fields, aligned in columns as a listing's table.
  const std::vector<std::string>& shown_rows() const { return shown_rows_; }
  const Timeline& timeline() const { return timeline_; }
  std::optional<std::size_t> bar() const { return bar_; }
  // The preview of the log under the cursor, one text per line.
  const std::vector<std::string>& preview_lines() const { return preview_.lines; }
  // Where each of its colours begins (styled_lines.h).
  const std::vector<std::vector<StyleStart>>& preview_styles() const { return preview_.starts; }
  std::size_t preview_top() const { return preview_scroll_.top(); }
  const std::string& filter_line() const { return filter_line_; }
  // The text being typed in Filter and Search mode.
  const std::string& typed() const { return typed_; }
  // The last line said: a listing's warning, a search that found nothing.
  const std::string& message() const { return message_; }

 private:
  void apply_filter(std::string line);
  void set_listing(Listing listing);
  void choose_bar(std::optional<std::size_t> bar);
  void relist(std::optional<std::size_t> keep);
  void load_preview();
  bool press_list(const Key& key);
  void press_typing(const Key& key);
  bool press_full(const Key& key);
  void search(bool from_next);
  void fit_panes();
  void refresh_rows();

  Source source_;
  std::string filter_line_;
  Layout layout_;
  Mode mode_ = Mode::List;
  std::vector<FileEntry> entries_;  // newest first
  std::vector<std::size_t> listed_;  // positions in entries_
  Scroll list_;
  Timeline timeline_;
  std::optional<std::size_t> bar_;
  std::optional<std::size_t> previewed_;  // position in entries_ of the preview
  StyledLines preview_;
  // The cells of the logs shown so far, by position in entries_.
  std::unordered_map<std::size_t, std::vector<std::string>> cells_;
  std::vector<std::string> shown_rows_;
  Scroll preview_scroll_;
  std::string typed_;
  std::string searched_;
  std::optional<std::size_t> found_;  // the preview line the search found last
  std::string message_;
};

}  // namespace vexlo::browse
