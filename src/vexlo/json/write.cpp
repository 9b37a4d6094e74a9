#include <charconv>
#include <cmath>
#include <string_view>

#include "vexlo/json/json.h"

namespace vexlo::json {
namespace {

// Backslash escapes of the database file; other control characters use
// \u00xx and every other byte is written as it is.
char short_escape(unsigned char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    default:
      return 0;
  }
}

bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The shortest round-trip digits of a finite, non-negative double and the
// decimal exponent of the first digit.
struct Decimal {
  char digits[32];
  std::size_t count = 0;
  int exponent = 0;
};

Decimal decompose(double value) {
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  const std::string_view scientific(text, static_cast<std::size_t>(written.ptr - text));
  // "d.ddde+xx" or "de+xx"
  const std::size_t e = scientific.find('e');
  Decimal decimal;
  for (std::size_t i = 0; i < e; ++i) {
    if (scientific[i] != '.') decimal.digits[decimal.count++] = scientific[i];
  }
  const char* exponent_begin = scientific.data() + e + 1;
  if (*exponent_begin == '+') ++exponent_begin;
  std::from_chars(exponent_begin, scientific.data() + scientific.size(), decimal.exponent);
  return decimal;
}

void append_plain(std::string& out, const Decimal& d) {
  const std::string_view digits(d.digits, d.count);
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out += digits;
    return;
  }
  const auto whole = static_cast<std::size_t>(d.exponent) + 1;
  if (digits.size() <= whole) {
    out += digits;
    out.append(whole - digits.size(), '0');
    out += ".0";
  } else {
    out += digits.substr(0, whole);
    out += '.';
    out += digits.substr(whole);
  }
}

void append_scientific(std::string& out, const Decimal& d) {
  out += d.digits[0];
  if (d.count > 1) {
    out += '.';
    out.append(d.digits + 1, d.count - 1);
  }
  out += d.exponent < 0 ? "e-" : "e+";
  char exponent[8];
  const auto written = std::to_chars(exponent, exponent + sizeof exponent, std::abs(d.exponent));
  out.append(exponent, written.ptr);
}

template <class Integer>
void append_integer(std::string& out, Integer value) {
  char text[24];
  const auto written = std::to_chars(text, text + sizeof text, value);
  out.append(text, written.ptr);
}

// Renders pretty text into `out`, handing full blocks to `writer` when there
// is one.
class PrettyPrinter {
 public:
  PrettyPrinter(std::string& out, BlockWriter* writer) : out_(out), writer_(writer) {}

  void value(Value v, std::size_t depth) {
    switch (v.kind()) {
      case Kind::Null:
        out_ += "null";
        break;
      case Kind::Boolean:
        out_ += v.as_bool() ? "true" : "false";
        break;
      case Kind::Unsigned:
      case Kind::Signed:
      case Kind::Float:
        append_number(out_, v);
        break;
      case Kind::String:
        append_quoted(out_, v.as_string());
        break;
      case Kind::Array:
        container(v, depth, '[', ']');
        break;
      case Kind::Object:
        container(v, depth, '{', '}');
        break;
    }
  }

 private:
  void container(Value v, std::size_t depth, char open, char close) {
    const std::size_t size = v.size();
    out_ += open;
    if (size == 0) {
      out_ += close;
      return;
    }
    const bool is_object = open == '{';
    for (std::size_t i = 0; i < size; ++i) {
      out_ += i == 0 ? "\n" : ",\n";
      out_.append(2 * (depth + 1), ' ');
      if (is_object) {
        append_quoted(out_, v.member_name(i));
        out_ += ": ";
        value(v.member_value(i), depth + 1);
      } else {
        value(v.element(i), depth + 1);
      }
      if (writer_) writer_->flush_if_full();
    }
    out_ += '\n';
    out_.append(2 * depth, ' ');
    out_ += close;
  }

  std::string& out_;
  BlockWriter* writer_;
};

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!needs_escape(c)) continue;
    out.append(text, run, i - run);
    run = i + 1;
    if (const char escape = short_escape(c)) {
      out += '\\';
      out += escape;
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  out.append(text, run);
  out += '"';
}

void append_number(std::string& out, double value) {
  if (!std::isfinite(value)) {
    // Parsed documents never hold these; JSON has no text for them.
    out += "null";
    return;
  }
  if (std::signbit(value)) out += '-';
  const Decimal decimal = decompose(std::fabs(value));
  if (decimal.exponent >= -5 && decimal.exponent <= 15) {
    append_plain(out, decimal);
  } else {
    append_scientific(out, decimal);
  }
}

void append_number(std::string& out, Value value) {
  switch (value.kind()) {
    case Kind::Unsigned:
      append_integer(out, value.as_unsigned());
      break;
    case Kind::Signed:
      append_integer(out, value.as_signed());
      break;
    default:
      append_number(out, value.as_float());
      break;
  }
}

void append_pretty(std::string& out, Value value) { PrettyPrinter(out, nullptr).value(value, 0); }

void write_pretty(std::ostream& out, Value value) {
  BlockWriter writer(out);
  PrettyPrinter(writer.buffer(), &writer).value(value, 0);
}

BlockWriter::BlockWriter(std::ostream& out) : out_(out) { buffer_.reserve(kBlockSize + 4096); }

BlockWriter::~BlockWriter() { flush(); }

void BlockWriter::flush() {
  if (buffer_.empty()) return;
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  buffer_.clear();
}

}  // namespace vexlo::json
