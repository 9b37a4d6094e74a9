#pragma once
// A window of `height` lines over `count` lines, with a cursor on one of
// them that the window always shows.

#include <cstddef>

namespace vexlo::browse {

class Scroll {
 public:
  void set_count(std::size_t count);
  void set_height(std::size_t height);
  // Moves the cursor by `delta` lines, stopping at either end.
  void move(std::ptrdiff_t delta);
  void move_to(std::size_t line);
  void move_to_end() { move_to(count_ == 0 ? 0 : count_ - 1); }
  // Moves the window alone, as far as the lines go, and the cursor with it.
  void scroll(std::ptrdiff_t delta);

  std::size_t count() const { return count_; }
  std::size_t height() const { return height_; }
  std::size_t cursor() const { return cursor_; }
  std::size_t top() const { return top_; }

 private:
  void keep_cursor_shown();
  std::size_t count_ = 0;
  std::size_t height_ = 1;
  std::size_t cursor_ = 0;
  std::size_t top_ = 0;
};

}  // namespace vexlo::browse
