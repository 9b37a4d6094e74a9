// The list holds every log the filter line selects; choosing a bar of the
// timeline lists only its logs, by their positions, so that neither a bar
// nor a key press copies the logs, however many there are. Only the log
// under the cursor is read, for its preview, and with --fields the logs of
// the rows on the screen, each once, for their cells.

#include "vexlo/browse/browser.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "vexlo/common/terminal_text.h"
#include "vexlo/query/fields.h"
#include "vexlo/query/time_text.h"

namespace vexlo::browse {
namespace {

using Code = Key::Code;

// The header, the caption under the bars, the preview's title, the message
// line and the footer.
constexpr std::size_t kFixedRows = 5;
constexpr std::size_t kBarRows = 3;

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

// The last line of what a listing said, for the message line.
std::string last_line(std::string_view messages) {
  while (messages.ends_with('\n')) messages.remove_suffix(1);
  const std::size_t newline = messages.rfind('\n');
  return std::string(newline == std::string_view::npos ? messages : messages.substr(newline + 1));
}

// Removes the last character of typed text, with all bytes of its UTF-8
// form.
void erase_last_character(std::string& text) {
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text.back());
    text.pop_back();
    if ((byte & 0xC0) != 0x80) break;
  }
}

// "YYYY-MM-DD" of a day's bar, "YYYY-MM-DD HH:00" of an hour's.
std::string bucket_name(const Timeline& timeline, std::size_t bucket) {
  const std::string time = time_expression_text(timeline.bucket_start(bucket));
  // Outside the years of four digits the time is a number of seconds.
  if (time.size() != 19) return time;
  return timeline.width == kDay ? time.substr(0, 10) : time.substr(0, 14) + "00";
}

std::string count_text(std::size_t count) { return std::to_string(count) + (count == 1 ? " log" : " logs"); }

}  // namespace

std::string list_row(const FileEntry& entry) {
  std::string row = "[ID:" + std::to_string(entry.id) + "] " + time_expression_text(entry.timestamp) + ' ';
  append_visible(row, entry.path);
  return row;
}

std::string bar_caption(const Timeline& timeline, std::optional<std::size_t> bar) {
  if (timeline.counts.empty()) return "No logs";
  if (bar) return bucket_name(timeline, *bar) + ": " + count_text(timeline.counts[*bar]);
  std::string caption = bucket_name(timeline, 0);
  if (timeline.counts.size() > 1) caption += " to " + bucket_name(timeline, timeline.counts.size() - 1);
  caption += timeline.width == kDay ? ", per day" : ", per hour";
  if (timeline.older > 0) caption += " (" + count_text(timeline.older) + " before)";
  return caption;
}

std::size_t first_shown_bar(const Timeline& timeline, std::optional<std::size_t> bar, std::size_t width) {
  const std::size_t bars = timeline.counts.size();
  if (bars <= width) return 0;
  const std::size_t newest_first = bars - width;
  return bar && *bar < newest_first ? *bar : newest_first;
}

Layout make_layout(std::size_t rows, std::size_t cols) {
  Layout layout{.rows = rows, .cols = cols};
  if (rows < kMinRows || cols < kMinCols) {
    layout.too_small = true;
    return layout;
  }
  layout.bar_rows = kBarRows;
  const std::size_t panes = rows - kFixedRows - kBarRows;
  layout.list_top = 1 + kBarRows + 1;
  layout.list_rows = std::max<std::size_t>(2, panes * 2 / 5);
  layout.preview_top = layout.list_top + layout.list_rows;  // its title
  layout.preview_rows = panes - layout.list_rows;
  return layout;
}

Browser::Browser(Source source, std::string filter_line, std::size_t rows, std::size_t cols)
    : source_(std::move(source)), layout_(make_layout(rows, cols)) {
  apply_filter(std::move(filter_line));
}

void Browser::resize(std::size_t rows, std::size_t cols) {
  layout_ = make_layout(rows, cols);
  fit_panes();
  refresh_rows();
}

// Only the rows shown have their fields read, each log once: a listing of
// any size opens at once.
void Browser::refresh_rows() {
  FieldTable table(true);
  std::ostringstream unused;  // an aligned table prints at its end only
  const std::size_t end = std::min(list_.top() + layout_.list_rows, listed_.size());
  for (std::size_t line = list_.top(); line < end; ++line) {
    const std::size_t at = listed_[line];
    auto cells = cells_.find(at);
    if (cells == cells_.end()) {
      cells = cells_.emplace(at, source_.cells ? source_.cells(entries_[at]) : std::vector<std::string>()).first;
    }
    table.add(list_row(entries_[at]), cells->second, unused);
  }
  std::ostringstream rows;
  table.finish(rows);
  shown_rows_ = split_lines(rows.str());
}

void Browser::fit_panes() {
  list_.set_height(layout_.list_rows);
  // Full screen leaves the title, the message line and the footer.
  preview_scroll_.set_height(mode_ == Mode::List || mode_ == Mode::Filter ? layout_.preview_rows
                                                                           : (layout_.rows > 3 ? layout_.rows - 3 : 1));
}

void Browser::apply_filter(std::string line) {
  filter_line_ = std::move(line);
  set_listing(source_.list(filter_line_));
}

void Browser::set_listing(Listing listing) {
  entries_ = std::move(listing.entries);
  cells_.clear();
  message_ = last_line(listing.messages);
  timeline_ = make_timeline(entries_);
  bar_.reset();
  previewed_.reset();
  list_ = Scroll();
  relist(std::nullopt);
}

// Lists the logs of the chosen bar, or all; the cursor stays on the log at
// position `keep` in entries_ when it is listed.
void Browser::relist(std::optional<std::size_t> keep) {
  listed_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!bar_ || timeline_.bucket_of(entries_[i].timestamp) == bar_) listed_.push_back(i);
  }
  list_.set_count(listed_.size());
  fit_panes();
  if (keep) {
    const auto found = std::ranges::lower_bound(listed_, *keep);
    list_.move_to(found == listed_.end() || *found != *keep ? 0 : static_cast<std::size_t>(found - listed_.begin()));
  }
  load_preview();
  refresh_rows();
}

void Browser::choose_bar(std::optional<std::size_t> bar) {
  bar_ = bar;
  list_.move_to(0);
  relist(std::nullopt);
}

void Browser::load_preview() {
  const std::optional<std::size_t> now =
      listed_.empty() ? std::nullopt : std::optional<std::size_t>(listed_[list_.cursor()]);
  if (now == previewed_) return;
  previewed_ = now;
  found_.reset();
  preview_ = now ? styled_lines(source_.preview(entries_[*now])) : StyledLines();
  preview_scroll_ = Scroll();
  preview_scroll_.set_count(preview_.lines.size());
  fit_panes();
}

void Browser::add_new(std::vector<FileEntry> entries, std::string_view messages) {
  if (!messages.empty()) message_ = last_line(messages);
  if (entries.empty()) return;
  const std::optional<FileEntry> current =
      listed_.empty() ? std::nullopt : std::optional<FileEntry>(entries_[listed_[list_.cursor()]]);
  const std::optional<std::int64_t> bar_start =
      bar_ ? std::optional<std::int64_t>(timeline_.bucket_start(*bar_)) : std::nullopt;
  for (FileEntry& entry : entries) {
    // After the logs of the same time, as a listing that scanned it last.
    const auto at = std::ranges::upper_bound(entries_, entry.timestamp, std::ranges::greater{}, &FileEntry::timestamp);
    entries_.insert(at, std::move(entry));
  }
  cells_.clear();  // kept by position, which the new logs moved
  timeline_ = make_timeline(entries_);
  // The chosen bar stays on its time, where the strip still shows it.
  bar_ = bar_start ? timeline_.bucket_of(*bar_start) : std::nullopt;
  std::optional<std::size_t> keep;
  if (current) {
    const auto found = std::ranges::find(entries_, *current);
    if (found != entries_.end()) keep = static_cast<std::size_t>(found - entries_.begin());
  }
  previewed_.reset();
  relist(keep);
}

bool Browser::press(const Key& key) {
  if (key.code == Code::Interrupt) return false;
  switch (mode_) {
    case Mode::List:
      return press_list(key);
    case Mode::Full:
      return press_full(key);
    case Mode::Filter:
    case Mode::Search:
      press_typing(key);
      return true;
  }
  return true;
}

bool Browser::press_list(const Key& key) {
  const auto page = static_cast<std::ptrdiff_t>(list_.height());
  const std::size_t bars = timeline_.counts.size();
  switch (key.code) {
    case Code::Up: list_.move(-1); break;
    case Code::Down: list_.move(1); break;
    case Code::PageUp: list_.move(-page); break;
    case Code::PageDown: list_.move(page); break;
    case Code::Home: list_.move_to(0); break;
    case Code::End: list_.move_to_end(); break;
    // Left from no bar chooses the newest: the strip ends there.
    case Code::Left:
      if (bars > 0) choose_bar(bar_ ? (*bar_ == 0 ? 0 : *bar_ - 1) : bars - 1);
      break;
    case Code::Right:
      if (bar_) choose_bar(*bar_ + 1 < bars ? *bar_ + 1 : *bar_);
      break;
    case Code::Escape: if (bar_) choose_bar(std::nullopt); break;
    case Code::Enter:
      if (!listed_.empty()) {
        mode_ = Mode::Full;
        fit_panes();
      }
      break;
    case Code::Backspace:
    case Code::Interrupt: break;
    case Code::Text:
      switch (key.text) {
        case 'q': return false;
        case 'k': list_.move(-1); break;
        case 'j': list_.move(1); break;
        case 'g': list_.move_to(0); break;
        case 'G': list_.move_to_end(); break;
        case 'K': preview_scroll_.scroll(-1); break;
        case 'J': preview_scroll_.scroll(1); break;
        case 'c': if (bar_) choose_bar(std::nullopt); break;
        case 'f':
          typed_ = filter_line_;
          mode_ = Mode::Filter;
          break;
        default: break;
      }
      break;
  }
  load_preview();
  refresh_rows();
  return true;
}

void Browser::press_typing(const Key& key) {
  const Mode back = mode_ == Mode::Filter ? Mode::List : Mode::Full;
  switch (key.code) {
    case Code::Text:
      // Text is one line: a typed control byte is dropped, never shown.
      if (static_cast<unsigned char>(key.text) >= 0x20 && key.text != 0x7f) typed_ += key.text;
      break;
    case Code::Backspace: erase_last_character(typed_); break;
    case Code::Escape: mode_ = back; break;
    case Code::Enter:
      mode_ = back;
      if (back == Mode::List) {
        apply_filter(std::exchange(typed_, {}));
      } else {
        searched_ = std::exchange(typed_, {});
        search(false);
      }
      break;
    default: break;
  }
  fit_panes();
}

bool Browser::press_full(const Key& key) {
  const auto page = static_cast<std::ptrdiff_t>(preview_scroll_.height());
  switch (key.code) {
    case Code::Up: preview_scroll_.scroll(-1); break;
    case Code::Down: preview_scroll_.scroll(1); break;
    case Code::PageUp: preview_scroll_.scroll(-page); break;
    case Code::PageDown: preview_scroll_.scroll(page); break;
    case Code::Home: preview_scroll_.scroll(-static_cast<std::ptrdiff_t>(preview_.lines.size())); break;
    case Code::End: preview_scroll_.scroll(static_cast<std::ptrdiff_t>(preview_.lines.size())); break;
    case Code::Escape: mode_ = Mode::List; break;
    case Code::Text:
      switch (key.text) {
        case 'q': mode_ = Mode::List; break;
        case 'k': preview_scroll_.scroll(-1); break;
        case 'j': preview_scroll_.scroll(1); break;
        case ' ': preview_scroll_.scroll(page); break;
        case '/':
          typed_.clear();
          mode_ = Mode::Search;
          break;
        case 'n': search(true); break;
        default: break;
      }
      break;
    default: break;
  }
  fit_panes();
  return true;
}

// Brings the first line from the top (after the last match, for the next
// one) that holds the searched text to the top, going round at the end.
void Browser::search(bool from_next) {
  if (searched_.empty()) return;
  const std::size_t count = preview_.lines.size();
  const std::size_t from = from_next && found_ ? *found_ + 1 : preview_scroll_.top();
  for (std::size_t step = 0; step < count; ++step) {
    const std::size_t line = (from + step) % count;
    if (preview_.lines[line].find(searched_) != std::string::npos) {
      found_ = line;
      preview_scroll_.scroll(static_cast<std::ptrdiff_t>(line) - static_cast<std::ptrdiff_t>(preview_scroll_.top()));
      message_.clear();
      return;
    }
  }
  message_ = "Not found: " + searched_;
}

}  // namespace vexlo::browse
