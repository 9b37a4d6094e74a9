#include "vexlo/browse/scroll.h"

#include <algorithm>

namespace vexlo::browse {
namespace {

std::size_t moved(std::size_t from, std::ptrdiff_t delta, std::size_t last) {
  if (delta < 0) {
    const auto back = static_cast<std::size_t>(-(delta + 1)) + 1;
    return back > from ? 0 : from - back;
  }
  return std::min(last, from + std::min(static_cast<std::size_t>(delta), last));
}

}  // namespace

void Scroll::set_count(std::size_t count) {
  count_ = count;
  cursor_ = std::min(cursor_, count_ == 0 ? 0 : count_ - 1);
  keep_cursor_shown();
}

void Scroll::set_height(std::size_t height) {
  height_ = std::max<std::size_t>(height, 1);
  keep_cursor_shown();
}

void Scroll::move(std::ptrdiff_t delta) {
  if (count_ == 0) return;
  cursor_ = moved(cursor_, delta, count_ - 1);
  keep_cursor_shown();
}

void Scroll::move_to(std::size_t line) {
  cursor_ = count_ == 0 ? 0 : std::min(line, count_ - 1);
  keep_cursor_shown();
}

void Scroll::scroll(std::ptrdiff_t delta) {
  const std::size_t last_top = count_ > height_ ? count_ - height_ : 0;
  const std::size_t offset = cursor_ - top_;
  top_ = moved(top_, delta, last_top);
  cursor_ = count_ == 0 ? 0 : std::min(top_ + offset, count_ - 1);
}

void Scroll::keep_cursor_shown() {
  if (cursor_ < top_) top_ = cursor_;
  if (cursor_ >= top_ + height_) top_ = cursor_ - height_ + 1;
  // No empty lines below the last one while there are more above.
  const std::size_t last_top = count_ > height_ ? count_ - height_ : 0;
  top_ = std::min(top_, last_top);
}

}  // namespace vexlo::browse
