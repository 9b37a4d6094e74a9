#include "vexlo/common/colour.h"

namespace vexlo {

bool uses_colour(ColourChoice choice, bool terminal, bool no_colour_set) {
  switch (choice) {
    case ColourChoice::Always:
      return true;
    case ColourChoice::Never:
      return false;
    case ColourChoice::Auto:
      break;
  }
  return terminal && !no_colour_set;
}

namespace {

bool is_scalar_byte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-' || c == '+' || c == '.' || c == 'E';
}

}  // namespace

void JsonColourBuffer::end_scalar() {
  out_ += colour::kReset;
  state_ = State::Between;
}

void JsonColourBuffer::take(char c) {
  switch (state_) {
    case State::InString:
      held_ += c;
      if (c == '\\') state_ = State::InEscape;
      if (c == '"') state_ = State::StringEnded;
      return;
    case State::InEscape:
      held_ += c;
      state_ = State::InString;
      return;
    case State::StringEnded:
      out_ += c == ':' ? colour::kKey : colour::kString;
      out_ += held_;
      out_ += colour::kReset;
      held_.clear();
      state_ = State::Between;
      break;
    case State::InScalar:
      if (is_scalar_byte(c)) {
        out_ += c;
        return;
      }
      end_scalar();
      break;
    case State::Between:
      break;
  }
  if (c == '"') {
    held_ += c;
    state_ = State::InString;
  } else if (c == '{' || c == '}' || c == '[' || c == ']') {
    out_ += colour::kBracket;
    out_ += c;
    out_ += colour::kReset;
  } else if (is_scalar_byte(c)) {
    out_ += c == 'n' ? colour::kNull : colour::kPlain;
    out_ += c;
    state_ = State::InScalar;
  } else {
    out_ += c;
  }
}

std::streamsize JsonColourBuffer::xsputn(const char* text, std::streamsize size) {
  for (std::streamsize i = 0; i < size; ++i) take(text[i]);
  target_.write(out_.data(), static_cast<std::streamsize>(out_.size()));
  out_.clear();
  return size;
}

JsonColourBuffer::int_type JsonColourBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char byte = traits_type::to_char_type(c);
  xsputn(&byte, 1);
  return c;
}

void JsonColourBuffer::finish() {
  if (state_ == State::StringEnded) {
    out_ += colour::kString;
    out_ += held_;
    out_ += colour::kReset;
    held_.clear();
  } else if (state_ == State::InScalar) {
    out_ += colour::kReset;
  }
  state_ = State::Between;
  target_.write(out_.data(), static_cast<std::streamsize>(out_.size()));
  out_.clear();
}

}  // namespace vexlo
