#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "vexlo/json/document_storage.h"
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

constexpr auto kNeedsEscape = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

bool needs_escape(unsigned char c) { return kNeedsEscape[c]; }

// Whether any of eight bytes needs an escape, tested on all of them at once.
bool block_needs_escape(std::uint64_t block) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  // A byte below n sets its high bit in (x - n) & ~x, for n up to 0x80.
  const auto has_below = [](std::uint64_t x, std::uint64_t n) { return (x - kOnes * n) & ~x & kHighBits; };
  return (has_below(block, 0x20) | has_below(block ^ (kOnes * '"'), 1) | has_below(block ^ (kOnes * '\\'), 1)) != 0;
}

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

// A line break followed by the indentation of the deepest level a parsed
// document can reach, to take line starts from in one piece.
constexpr std::size_t kIndentWidth = 2 * 128;
constexpr auto kLineStart = [] {
  std::array<char, 1 + kIndentWidth> text{};
  text[0] = '\n';
  for (std::size_t i = 1; i < text.size(); ++i) text[i] = ' ';
  return text;
}();

void start_line(std::string& out, std::size_t depth) {
  const std::size_t width = 2 * depth;
  if (width <= kIndentWidth) {
    out.append(kLineStart.data(), 1 + width);
  } else {
    out += '\n';
    out.append(width, ' ');
  }
}

// Renders pretty text into `out`, handing full blocks to `writer` when there
// is one. It walks the document's tape and children index directly: this is
// the path of large documents, and the checks that Value makes on every
// access are known to hold here.
class PrettyPrinter {
 public:
  PrettyPrinter(const DocumentStorage& storage, std::string& out, BlockWriter* writer)
      : storage_(storage), out_(out), writer_(writer) {}

  void value(std::uint32_t index, std::size_t depth) {
    const std::uint64_t word = storage_.word(index);
    switch (tape::type_of(word)) {
      case 't':
        out_ += "true";
        break;
      case 'f':
        out_ += "false";
        break;
      case 'l':
        append_integer(out_, static_cast<std::int64_t>(storage_.word(index + 1)));
        break;
      case 'u':
        append_integer(out_, storage_.word(index + 1));
        break;
      case 'd':
        append_number(out_, std::bit_cast<double>(storage_.word(index + 1)));
        break;
      case '"':
        append_quoted(out_, storage_.string(index));
        break;
      case '[':
        container(word, depth, '[', ']');
        break;
      case '{':
        container(word, depth, '{', '}');
        break;
      default:
        out_ += "null";
        break;
    }
  }

 private:
  // `word` is the container's start on the tape; after indexing its payload
  // is the offset of its entry in `children`.
  void container(std::uint64_t word, std::size_t depth, char open, char close) {
    const std::uint32_t* entry = storage_.children.data() + tape::payload_of(word);
    const std::uint32_t size = entry[0];
    out_ += open;
    if (size == 0) {
      out_ += close;
      return;
    }
    const bool is_object = open == '{';
    for (std::uint32_t i = 0; i < size; ++i) {
      if (i != 0) out_ += ',';
      start_line(out_, depth + 1);
      const std::uint32_t child = entry[1 + i];
      if (is_object) {
        // A member's name, then its value on the next tape word.
        append_quoted(out_, storage_.string(child));
        out_ += ": ";
        value(child + 1, depth + 1);
      } else {
        value(child, depth + 1);
      }
      if (writer_) writer_->flush_if_full();
    }
    start_line(out_, depth);
    out_ += close;
  }

  const DocumentStorage& storage_;
  std::string& out_;
  BlockWriter* writer_;
};

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  std::size_t clean = 0;  // length of the prefix that needs no escape
  for (; clean + 8 <= text.size(); clean += 8) {
    std::uint64_t block;
    std::memcpy(&block, text.data() + clean, sizeof block);
    if (block_needs_escape(block)) break;
  }
  while (clean < text.size() && !needs_escape(static_cast<unsigned char>(text[clean]))) ++clean;
  out += '"';
  out.append(text.data(), clean);  // the whole text, as a rule
  std::size_t run = clean;  // start of the bytes not yet copied
  for (std::size_t i = clean; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!needs_escape(c)) continue;
    out.append(text.data() + run, i - run);
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
  out.append(text.data() + run, text.size() - run);
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

void append_pretty(std::string& out, Value value) {
  PrettyPrinter(ValueAccess::storage(value), out, nullptr).value(ValueAccess::index(value), 0);
}

void write_pretty(std::ostream& out, Value value) {
  BlockWriter writer(out);
  PrettyPrinter(ValueAccess::storage(value), writer.buffer(), &writer).value(ValueAccess::index(value), 0);
}

BlockWriter::BlockWriter(std::ostream& out) : out_(out) { buffer_.reserve(kBlockSize + 4096); }

BlockWriter::~BlockWriter() { flush(); }

void BlockWriter::flush() {
  if (buffer_.empty()) return;
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  buffer_.clear();
}

}  // namespace vexlo::json
