#include "vexlo/common/screen_rows.h"

namespace vexlo {

void ScreenRows::add_column() {
  if (column_ == columns_) {
    ++rows_;
    column_ = 0;
  }
  ++column_;
}

void ScreenRows::add(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (state_ == State::Escape) {
      state_ = byte == '[' ? State::Sequence : State::Text;
    } else if (state_ == State::Sequence) {
      if (byte >= 0x40 && byte <= 0x7e) state_ = State::Text;  // the final byte
    } else if (byte == 0x1b) {
      state_ = State::Escape;
    } else if (byte == '\n') {
      ++rows_;
      column_ = 0;
    } else if (byte == '\t') {
      do add_column();
      while (column_ % 8 != 0 && column_ < columns_);
    } else if ((byte & 0xc0) != 0x80) {  // not a continuation byte
      add_column();
    }
  }
}

}  // namespace vexlo
