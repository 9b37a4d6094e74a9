#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>

#include "vexlo/common/float_digits.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/common/utf8.h"
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

// The longest number text: a sign and 17 digits with "0.0000" before them,
// or with a point and an exponent of three digits.
constexpr std::size_t kMaxNumberText = 32;

char* write_digits(char* out, std::string_view digits) {
  std::memcpy(out, digits.data(), digits.size());
  return out + digits.size();
}

char* write_plain(char* out, const FloatDigits& d) {
  const std::string_view digits = d.text();
  if (d.exponent < 0) {
    out = write_digits(out, "0.");
    const auto zeros = static_cast<std::size_t>(-d.exponent - 1);
    std::memset(out, '0', zeros);
    return write_digits(out + zeros, digits);
  }
  const auto whole = static_cast<std::size_t>(d.exponent) + 1;
  if (digits.size() <= whole) {
    out = write_digits(out, digits);
    std::memset(out, '0', whole - digits.size());
    return write_digits(out + (whole - digits.size()), ".0");
  }
  out = write_digits(out, digits.substr(0, whole));
  *out++ = '.';
  return write_digits(out, digits.substr(whole));
}

char* write_scientific(char* out, const FloatDigits& d) {
  *out++ = d.digits[0];
  if (d.count > 1) {
    *out++ = '.';
    out = write_digits(out, std::string_view(d.digits + 1, d.count - 1));
  }
  out = write_digits(out, d.exponent < 0 ? "e-" : "e+");
  return std::to_chars(out, out + 8, std::abs(d.exponent)).ptr;
}

// Writes the number text of a double, at most kMaxNumberText bytes.
char* write_float(char* out, double value) {
  if (!std::isfinite(value)) {
    // Parsed documents never hold these; JSON has no text for them.
    return write_digits(out, "null");
  }
  if (std::signbit(value)) *out++ = '-';
  const FloatDigits digits = shortest_digits(value);
  if (digits.exponent >= -5 && digits.exponent <= 15) return write_plain(out, digits);
  return write_scientific(out, digits);
}

template <class Integer>
char* write_integer(char* out, Integer value) {
  return std::to_chars(out, out + kMaxNumberText, value).ptr;
}

template <class Integer>
void append_integer(std::string& out, Integer value) {
  char text[kMaxNumberText];
  out.append(text, write_integer(text, value));
}

// Length of the part of `text` before the first byte that needs an escape.
std::size_t clean_prefix(std::string_view text) {
  std::size_t clean = 0;
  for (; clean + 8 <= text.size(); clean += 8) {
    std::uint64_t block;
    std::memcpy(&block, text.data() + clean, sizeof block);
    if (block_needs_escape(block)) break;
  }
  while (clean < text.size() && !needs_escape(static_cast<unsigned char>(text[clean]))) ++clean;
  return clean;
}

// Whether a block of eight bytes needs an escape when DEL and the C1
// controls are escaped too; their UTF-8 lead byte 0xC2 is taken as a sign
// of one, and for a terminal the lead bytes of the characters that reorder
// or hide text (0xD8, 0xE2, 0xEF) too.
bool block_needs_escape_beyond_json(std::uint64_t block, Escapes escapes) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  const auto has_byte = [](std::uint64_t x, std::uint8_t byte) {
    const std::uint64_t y = x ^ (kOnes * byte);
    return ((y - kOnes) & ~y & kHighBits) != 0;
  };
  if (block_needs_escape(block) || has_byte(block, 0x7F) || has_byte(block, 0xC2)) return true;
  return escapes == Escapes::Terminal && (has_byte(block, 0xD8) || has_byte(block, 0xE2) || has_byte(block, 0xEF));
}

// clean_prefix for that escaping, in blocks only: the rest is left to the
// caller, which looks at every byte. Most text holds no control at all.
std::size_t clean_prefix_beyond_json(std::string_view text, Escapes escapes) {
  std::size_t clean = 0;
  for (; clean + 8 <= text.size(); clean += 8) {
    std::uint64_t block;
    std::memcpy(&block, text.data() + clean, sizeof block);
    if (block_needs_escape_beyond_json(block, escapes)) break;
  }
  return clean;
}

// The character beyond those JSON needs escaped that starts at byte `at`,
// if `escapes` asks for it; DEL is left to the caller.
std::optional<HiddenCharacter> escaped_beyond_json(std::string_view text, std::size_t at, Escapes escapes) {
  if (escapes == Escapes::Terminal) return hidden_character_at(text, at);
  // In UTF-8 the second byte of a C1 control is its code point.
  if (escapes == Escapes::Controls && is_c1_control_at(text, at)) {
    return HiddenCharacter{static_cast<unsigned char>(text[at + 1]), 2};
  }
  return std::nullopt;
}

// The escape of a character that needs one: a backslash and a letter, or
// \u and four hex digits.
std::string_view escape_of(char32_t c, char (&buffer)[6]) {
  if (const char escape = c < 0x80 ? short_escape(static_cast<unsigned char>(c)) : 0) {
    buffer[0] = '\\';
    buffer[1] = escape;
    return {buffer, 2};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  buffer[0] = '\\';
  buffer[1] = 'u';
  for (int digit = 0; digit < 4; ++digit) buffer[2 + digit] = kHex[(c >> (12 - 4 * digit)) & 0xF];
  return {buffer, 6};
}

// Hands `text` to `put` piece by piece with the escapes of the database
// file: runs of bytes that need none, as they are, and the escape of each
// byte that does. Beyond Escapes::Json, DEL and what escaped_beyond_json
// finds are escaped too, which clean_prefix does not look for. The pieces
// are views that live until `put` returns.
template <class Put>
void put_escaped(std::string_view text, Escapes escapes, Put put) {
  const bool beyond_json = escapes != Escapes::Json;
  std::size_t run = 0;  // start of the bytes not yet handed over
  for (std::size_t i = beyond_json ? clean_prefix_beyond_json(text, escapes) : clean_prefix(text); i < text.size();
       ++i) {
    char32_t code = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    if (!needs_escape(static_cast<unsigned char>(code))) {
      if (!beyond_json) continue;
      if (const auto hidden = escaped_beyond_json(text, i, escapes)) {
        code = hidden->code_point;
        length = hidden->length;
      } else if (code != 0x7F) {
        continue;
      }
    }
    put(text.substr(run, i - run));
    char escape[6];
    put(escape_of(code, escape));
    i += length - 1;
    run = i + 1;
  }
  put(text.substr(run));
}

// A string written through a pointer: it is kept longer than its content,
// so that a piece costs a copy and one check of the room left rather than
// the string's own bookkeeping, and short pieces can be copied in blocks of
// a fixed size that may run past their end. The string gets its content's
// length back when this ends and around settle().
class RawText {
 public:
  explicit RawText(std::string& text) : text_(text), end_(text.size()) {}
  RawText(const RawText&) = delete;
  RawText& operator=(const RawText&) = delete;
  ~RawText() { text_.resize(end_); }

  // At least `n` writable bytes after the content; wrote() then moves the
  // end of the content.
  char* room(std::size_t n) {
    if (text_.size() - end_ < n) [[unlikely]] make_room(n);
    return text_.data() + end_;
  }
  void wrote(const char* until) { end_ = static_cast<std::size_t>(until - text_.data()); }

  void put(char c) {
    *room(1) = c;
    ++end_;
  }
  void put(std::string_view piece) {
    if (piece.empty()) return;
    std::memcpy(room(piece.size()), piece.data(), piece.size());
    end_ += piece.size();
  }
  std::size_t size() const { return end_; }

  // Runs `use` with the string at its content's length, and goes on after
  // whatever content `use` leaves.
  template <class Use>
  void settle(Use use) {
    text_.resize(end_);
    use();
    end_ = text_.size();
  }

 private:
  [[gnu::noinline]] void make_room(std::size_t n) {
    text_.resize(end_);
    if (text_.capacity() - end_ < n) text_.reserve(std::max(end_ + n, 2 * text_.capacity()));
    // Lengthens the string to its capacity without writing the new bytes;
    // the capacity suffices, so nothing moves.
    text_.resize_and_overwrite(text_.capacity(), [](char*, std::size_t size) { return size; });
  }

  std::string& text_;
  std::size_t end_;  // of the content
};

// A line break followed by the indentation of the deepest level a parsed
// document can reach, to take line starts from in one piece.
constexpr std::size_t kIndentWidth = 2 * 128;
constexpr auto kLineStart = [] {
  std::array<char, 1 + kIndentWidth> text{};
  text[0] = '\n';
  for (std::size_t i = 1; i < text.size(); ++i) text[i] = ' ';
  return text;
}();

constexpr std::size_t kLineBlock = 32;
constexpr std::size_t kStringBlock = 32;

void start_line(RawText& out, std::size_t depth) {
  const std::size_t width = 2 * depth;
  if (1 + width <= kLineBlock) {
    // One block of fixed size, of which the line start is a prefix.
    char* at = out.room(kLineBlock);
    std::memcpy(at, kLineStart.data(), kLineBlock);
    out.wrote(at + 1 + width);
  } else if (width <= kIndentWidth) {
    out.put(std::string_view(kLineStart.data(), 1 + width));
  } else {
    out.put('\n');
    char* at = out.room(width);
    std::memset(at, ' ', width);
    out.wrote(at + width);
  }
}

// Whether a string of the document shorter than kStringBlock needs an
// escape, tested eight bytes at a time (see put_document_string); the bytes
// past its end count as letters.
bool short_document_string_needs_escape(std::string_view text, Escapes escapes) {
  for (std::size_t at = 0; at < text.size(); at += 8) {
    std::uint64_t block;
    std::memcpy(&block, text.data() + at, sizeof block);
    const std::size_t bytes = text.size() - at;
    if (bytes < 8) {
      // Keeps the text's bytes, which come first in memory.
      const unsigned shift = 8 * static_cast<unsigned>(8 - bytes);
      const std::uint64_t text_bytes =
          std::endian::native == std::endian::little ? ~std::uint64_t{0} >> shift : ~std::uint64_t{0} << shift;
      block = (block & text_bytes) | (0x6161616161616161ull & ~text_bytes);
    }
    if (escapes == Escapes::Json ? block_needs_escape(block) : block_needs_escape_beyond_json(block, escapes)) {
      return true;
    }
  }
  return false;
}

// A string of the document. The parser's string buffer holds each string
// followed by a terminating zero and, after the last one, padding of its
// full width, so kPadding bytes past a string's end are readable: short
// strings are copied in one block of fixed size.
// `escapes` as put_escaped.
void put_document_string(RawText& out, std::string_view text, Escapes escapes) {
  static_assert(simdjson::SIMDJSON_PADDING >= kStringBlock);
  if (text.size() <= kStringBlock - 2 && !short_document_string_needs_escape(text, escapes)) {
    char* at = out.room(kStringBlock + 2);
    at[0] = '"';
    std::memcpy(at + 1, text.data(), kStringBlock);
    at[1 + text.size()] = '"';
    out.wrote(at + 2 + text.size());
    return;
  }
  out.put('"');
  put_escaped(text, escapes, [&](std::string_view piece) { out.put(piece); });
  out.put('"');
}

// Renders pretty text into `out`, handing full blocks to `writer` when there
// is one. It walks the document's tape and children index directly: this is
// the path of large documents, and the checks that Value makes on every
// access are known to hold here.
//
// Compact, it writes no white space: the compact form of show --json and
// --content. Strings are escaped as `escapes` asks.
template <bool kCompact>
class TapePrinter {
 public:
  TapePrinter(const DocumentStorage& storage, std::string& out, BlockWriter* writer, Escapes escapes)
      : storage_(storage), out_(out), writer_(writer), escapes_(escapes) {}

  void value(std::uint32_t index, std::size_t depth) {
    const std::uint64_t word = storage_.word(index);
    switch (tape::type_of(word)) {
      case 't':
        out_.put("true");
        break;
      case 'f':
        out_.put("false");
        break;
      case 'l':
        out_.wrote(write_integer(out_.room(kMaxNumberText), static_cast<std::int64_t>(storage_.word(index + 1))));
        break;
      case 'u':
        out_.wrote(write_integer(out_.room(kMaxNumberText), storage_.word(index + 1)));
        break;
      case 'd':
        out_.wrote(write_float(out_.room(kMaxNumberText), std::bit_cast<double>(storage_.word(index + 1))));
        break;
      case '"':
        put_document_string(out_, storage_.string(index), escapes_);
        break;
      case '[':
        container(word, depth, '[', ']');
        break;
      case '{':
        container(word, depth, '{', '}');
        break;
      default:
        out_.put("null");
        break;
    }
  }

 private:
  // `word` is the container's start on the tape; after indexing its payload
  // is the offset of its entry in `children`.
  void container(std::uint64_t word, std::size_t depth, char open, char close) {
    const std::uint32_t* entry = storage_.children.data() + tape::payload_of(word);
    const std::uint32_t size = entry[0];
    out_.put(open);
    if (size == 0) {
      out_.put(close);
      return;
    }
    const bool is_object = open == '{';
    for (std::uint32_t i = 0; i < size; ++i) {
      if (i != 0) out_.put(',');
      if constexpr (!kCompact) start_line(out_, depth + 1);
      const std::uint32_t child = entry[1 + i];
      if (is_object) {
        // A member's name, then its value on the next tape word.
        put_document_string(out_, storage_.string(child), escapes_);
        out_.put(kCompact ? ":" : ": ");
        value(child + 1, depth + 1);
      } else {
        value(child, depth + 1);
      }
      if (writer_ != nullptr && out_.size() >= BlockWriter::kBlockSize) out_.settle([&] { writer_->flush(); });
    }
    if constexpr (!kCompact) start_line(out_, depth);
    out_.put(close);
  }

  const DocumentStorage& storage_;
  RawText out_;
  BlockWriter* writer_;
  Escapes escapes_;
};

}  // namespace

namespace {

void append_quoted_text(std::string& out, std::string_view text, Escapes escapes) {
  out += '"';
  put_escaped(text, escapes, [&](std::string_view piece) { out += piece; });
  out += '"';
}


}  // namespace

void append_quoted(std::string& out, std::string_view text) { append_quoted_text(out, text, Escapes::Json); }

void append_quoted_without_controls(std::string& out, std::string_view text) {
  append_quoted_text(out, text, Escapes::Controls);
}

void append_compact(std::string& out, Value value, Escapes escapes) {
  TapePrinter<true>(ValueAccess::storage(value), out, nullptr, escapes).value(ValueAccess::index(value), 0);
}

void write_compact(std::ostream& out, Value value, Escapes escapes) {
  BlockWriter writer(out);
  TapePrinter<true>(ValueAccess::storage(value), writer.buffer(), &writer, escapes).value(ValueAccess::index(value), 0);
}

void append_number(std::string& out, double value) {
  char text[kMaxNumberText];
  out.append(text, write_float(text, value));
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

void append_pretty(std::string& out, Value value, Escapes escapes) {
  TapePrinter<false>(ValueAccess::storage(value), out, nullptr, escapes).value(ValueAccess::index(value), 0);
}

void write_pretty(std::ostream& out, Value value, Escapes escapes) {
  BlockWriter writer(out);
  TapePrinter<false>(ValueAccess::storage(value), writer.buffer(), &writer, escapes).value(ValueAccess::index(value), 0);
}

BlockWriter::BlockWriter(std::ostream& out) : out_(out) { buffer_.reserve(kBlockSize + 4096); }

BlockWriter::~BlockWriter() { flush(); }

void BlockWriter::flush() {
  if (buffer_.empty()) return;
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  buffer_.clear();
}

}  // namespace vexlo::json
