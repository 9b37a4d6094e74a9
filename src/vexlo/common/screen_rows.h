#pragma once
// How many rows of a terminal a text takes, counted as it is written, to
// tell whether it fits on the screen.

#include <cstddef>
#include <string_view>

namespace vexlo {

// Counts the rows text takes on a terminal `columns` wide: a line feed
// ends a row, a line longer than the width wraps onto the next, a tab
// moves to the next multiple of eight, and the colour sequences this
// program writes (ESC [ ... m) take no room. Each UTF-8 character counts
// as one column: wide characters make a text seem shorter than it is,
// which only means that a text that barely overflows is not paged.
class ScreenRows {
 public:
  explicit ScreenRows(int columns) : columns_(columns > 0 ? static_cast<std::size_t>(columns) : 1) {}

  void add(std::string_view text);
  // The rows taken so far, the unfinished last line included.
  std::size_t rows() const { return rows_ + (column_ > 0 ? 1 : 0); }

 private:
  enum class State { Text, Escape, Sequence };
  void add_column();

  std::size_t columns_;
  std::size_t rows_ = 0;
  std::size_t column_ = 0;
  State state_ = State::Text;
};

}  // namespace vexlo
