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

// Sixteen bytes, tested at once by the compiler's vector operations.
using Block = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t kBlockBytes = sizeof(Block);

// Whether any of the first `valid` bytes of the block at `at` needs an
// escape as `escapes` asks: beyond JSON, DEL and the lead byte 0xC2 of the
// C1 controls are taken as signs of one, and for a terminal the lead bytes
// of the characters that reorder or hide text (0xD8, 0xE2, 0xEF) too. All
// sixteen bytes are read.
template <Escapes escapes>
bool block_needs_escape(const char* at, std::size_t valid = kBlockBytes) {
  Block block;
  std::memcpy(&block, at, sizeof block);
  auto hit = (block < 0x20) | (block == '"') | (block == '\\');
  if constexpr (escapes != Escapes::Json) {
    hit |= (block == 0x7F) | (block == 0xC2);
    if constexpr (escapes == Escapes::Terminal) hit |= (block == 0xD8) | (block == 0xE2) | (block == 0xEF);
  }
  if (valid < kBlockBytes) {
    constexpr Block kLanes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    hit &= kLanes < static_cast<unsigned char>(valid);
  }
  std::uint64_t halves[2];
  std::memcpy(halves, &hit, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// Where the first block of `text` from `from` on that may need an escape
// as `escapes` asks begins, or the text's size when none does. A last
// short block is tested on a copy, so that no byte past the text is read.
// Most text holds no control at all.
template <Escapes escapes>
std::size_t next_block_to_look_at(std::string_view text, std::size_t from) {
  std::size_t at = from;
  for (; at + kBlockBytes <= text.size(); at += kBlockBytes) {
    if (block_needs_escape<escapes>(text.data() + at)) return at;
  }
  if (at < text.size()) {
    char tail[kBlockBytes] = {};
    std::memcpy(tail, text.data() + at, text.size() - at);
    if (block_needs_escape<escapes>(tail, text.size() - at)) return at;
  }
  return text.size();
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
// finds are escaped too. The pieces are views that live until `put`
// returns.
template <Escapes escapes, class Put>
void put_escaped(std::string_view text, Put put) {
  constexpr bool beyond_json = escapes != Escapes::Json;
  std::size_t run = 0;  // start of the bytes not yet handed over
  std::size_t block_end = 0;  // of the block whose bytes are looked at one by one
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i >= block_end) {
      i = next_block_to_look_at<escapes>(text, i);
      if (i == text.size()) break;
      block_end = i + kBlockBytes;
    }
    char32_t code = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    if (!needs_escape(static_cast<unsigned char>(code))) {
      // Printable ASCII needs no escape of any kind.
      if (!beyond_json || code < 0x7F) continue;
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
  explicit RawText(std::string& text) : text_(text) { take_string(); }
  RawText(const RawText&) = delete;
  RawText& operator=(const RawText&) = delete;
  ~RawText() { text_.resize(size()); }

  // At least `n` writable bytes after the content; wrote() then moves the
  // end of the content.
  char* room(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - end_) < n) [[unlikely]] make_room(n);
    return end_;
  }
  void wrote(char* until) { end_ = until; }

  void put(char c) {
    *room(1) = c;
    ++end_;
  }
  void put(std::string_view piece) {
    if (piece.empty()) return;
    std::memcpy(room(piece.size()), piece.data(), piece.size());
    end_ += piece.size();
  }
  std::size_t size() const { return static_cast<std::size_t>(end_ - begin_); }

  // Runs `use` with the string at its content's length, and goes on after
  // whatever content `use` leaves.
  template <class Use>
  void settle(Use use) {
    text_.resize(size());
    use();
    take_string();
  }

 private:
  // Writes go on at the end of the string's content, which is all there is
  // room for until make_room.
  void take_string() {
    begin_ = text_.data();
    end_ = begin_ + text_.size();
    limit_ = end_;
  }

  [[gnu::noinline]] void make_room(std::size_t n) {
    const std::size_t content = size();
    text_.resize(content);
    if (text_.capacity() - content < n) text_.reserve(std::max(content + n, 2 * text_.capacity()));
    // Lengthens the string to its capacity without writing the new bytes;
    // the capacity suffices, so nothing moves.
    text_.resize_and_overwrite(text_.capacity(), [](char*, std::size_t size) { return size; });
    begin_ = text_.data();
    end_ = begin_ + content;
    limit_ = begin_ + text_.size();
  }

  std::string& text_;
  char* begin_;  // of the string
  char* end_;    // of the content
  char* limit_;  // of the room
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
// escape, tested a block at a time (see put_document_string).
template <Escapes escapes>
bool short_document_string_needs_escape(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); at += kBlockBytes) {
    if (block_needs_escape<escapes>(text.data() + at, std::min(kBlockBytes, text.size() - at))) return true;
  }
  return false;
}

// A string of the document. The parser's string buffer holds each string
// followed by a terminating zero and, after the last one, padding of its
// full width, so kPadding bytes past a string's end are readable: short
// strings are copied in one block of fixed size.
// `escapes` as put_escaped.
template <Escapes escapes>
void put_document_string(RawText& out, std::string_view text) {
  static_assert(simdjson::SIMDJSON_PADDING >= kStringBlock);
  if (text.size() <= kStringBlock - 2 && !short_document_string_needs_escape<escapes>(text)) {
    char* at = out.room(kStringBlock + 2);
    at[0] = '"';
    std::memcpy(at + 1, text.data(), kStringBlock);
    at[1 + text.size()] = '"';
    out.wrote(at + 2 + text.size());
    return;
  }
  out.put('"');
  put_escaped<escapes>(text, [&](std::string_view piece) { out.put(piece); });
  out.put('"');
}

// Renders pretty text into `out`, handing full blocks to `writer` when there
// is one. It walks the document's tape and children index directly: this is
// the path of large documents, and the checks that Value makes on every
// access are known to hold here.
//
// Compact, it writes no white space: the compact form of show --json and
// --content. Strings are escaped as `escapes` asks.
template <bool kCompact, Escapes escapes>
class TapePrinter {
 public:
  TapePrinter(const DocumentStorage& storage, std::string& out, BlockWriter* writer)
      : storage_(storage), words_(storage.doc.tape.get()), strings_(storage.doc.string_buf.get()), out_(out),
        writer_(writer) {}

  void value(std::uint32_t index, std::size_t depth) {
    const std::uint64_t word = words_[index];
    switch (tape::type_of(word)) {
      case 't':
        out_.put("true");
        break;
      case 'f':
        out_.put("false");
        break;
      case 'l':
        out_.wrote(write_integer(out_.room(kMaxNumberText), static_cast<std::int64_t>(words_[index + 1])));
        break;
      case 'u':
        out_.wrote(write_integer(out_.room(kMaxNumberText), words_[index + 1]));
        break;
      case 'd':
        out_.wrote(write_float(out_.room(kMaxNumberText), std::bit_cast<double>(words_[index + 1])));
        break;
      case '"':
        put_document_string<escapes>(out_, string_at(index));
        break;
      case '[':
        container(index, depth, '[', ']');
        break;
      case '{':
        container(index, depth, '{', '}');
        break;
      default:
        out_.put("null");
        break;
    }
  }

 private:
  // `index` is the container's start on the tape.
  void container(std::uint32_t index, std::size_t depth, char open, char close) {
    out_.put(open);
    const bool is_object = open == '{';
    bool first = true;
    for_each_child(index, depth, is_object, [&](std::uint32_t child) {
      if (!first) out_.put(',');
      first = false;
      if constexpr (!kCompact) start_line(out_, depth + 1);
      if (is_object) {
        // A member's name, then its value on the next tape word.
        put_document_string<escapes>(out_, string_at(child));
        out_.put(kCompact ? ":" : ": ");
        value(child + 1, depth + 1);
      } else {
        value(child, depth + 1);
      }
      if (writer_ != nullptr && out_.size() >= BlockWriter::kBlockSize) out_.settle([&] { writer_->flush(); });
    });
    if constexpr (!kCompact) {
      if (!first) start_line(out_, depth);
    }
    out_.put(close);
  }

  // Calls `each` with the tape index of each element of an array or each
  // member name of an object, members in the document's order. An indexed
  // document lists them; on a tape as parsed, where a container's start
  // holds the index after its end, they are found by stepping over values.
  template <class Each>
  void for_each_child(std::uint32_t index, std::size_t depth, bool is_object, Each each) {
    const std::uint64_t word = words_[index];
    if (storage_.indexed) {
      const std::uint32_t* entry = storage_.children.data() + tape::payload_of(word);
      std::for_each(entry + 1, entry + 1 + entry[0], each);
      return;
    }
    const std::uint64_t* words = words_;
    const std::uint32_t end = tape::next_index(words, index) - 1;
    if (!is_object) {
      for (std::uint32_t at = index + 1; at < end; at = tape::next_index(words, at)) each(at);
      return;
    }
    // Deeper objects take the lists after this one's, which the parse gave
    // room enough.
    if (storage_.member_lists.size() <= depth) storage_.member_lists.resize(depth + 1);
    std::vector<MemberOrder::Named> members = std::move(storage_.member_lists[depth]);
    members.clear();
    for (std::uint32_t at = index + 1; at < end; at = tape::next_index(words, at + 1)) {
      members.push_back(MemberOrder::named(storage_, at));
    }
    MemberOrder::order(members, storage_);
    for (const MemberOrder::Named& member : members) each(member.index);
    storage_.member_lists[depth] = std::move(members);
  }

  std::string_view string_at(std::uint32_t index) const {
    return tape::string_at(strings_, tape::payload_of(words_[index]));
  }

  const DocumentStorage& storage_;
  const std::uint64_t* words_;   // the tape
  const std::uint8_t* strings_;  // the string buffer
  RawText out_;
  BlockWriter* writer_;
};

}  // namespace

namespace {

// Calls `f` with `escapes` as a constant, so that the code for each
// escaping is made at compile time.
template <class F>
void with_escapes(Escapes escapes, F f) {
  switch (escapes) {
    case Escapes::Json:
      f.template operator()<Escapes::Json>();
      break;
    case Escapes::Controls:
      f.template operator()<Escapes::Controls>();
      break;
    case Escapes::Terminal:
      f.template operator()<Escapes::Terminal>();
      break;
  }
}

void append_quoted_text(std::string& out, std::string_view text, Escapes escapes) {
  out += '"';
  with_escapes(escapes, [&]<Escapes kEscapes>() {
    put_escaped<kEscapes>(text, [&](std::string_view piece) { out += piece; });
  });
  out += '"';
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) { append_quoted_text(out, text, Escapes::Json); }

void append_quoted_without_controls(std::string& out, std::string_view text, Escapes escapes) {
  append_quoted_text(out, text, escapes);
}

namespace {

// Writes the value at tape index `index` with the printer of the escaping
// asked for.
template <bool kCompact>
void print(const DocumentStorage& storage, std::uint32_t index, std::string& out, BlockWriter* writer,
           Escapes escapes) {
  with_escapes(escapes, [&]<Escapes kEscapes>() {
    TapePrinter<kCompact, kEscapes>(storage, out, writer).value(index, 0);
  });
}

}  // namespace

void append_compact(std::string& out, Value value, Escapes escapes) {
  print<true>(ValueAccess::storage(value), ValueAccess::index(value), out, nullptr, escapes);
}

void append_compact(std::string& out, ParsedText document, Escapes escapes) {
  print<true>(ValueAccess::storage(document), 1, out, nullptr, escapes);
}

void write_compact(std::ostream& out, ParsedText document, Escapes escapes) {
  BlockWriter writer(out);
  print<true>(ValueAccess::storage(document), 1, writer.buffer(), &writer, escapes);
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
  print<false>(ValueAccess::storage(value), ValueAccess::index(value), out, nullptr, escapes);
}

void write_pretty(std::ostream& out, ParsedText document, Escapes escapes) {
  BlockWriter writer(out);
  print<false>(ValueAccess::storage(document), 1, writer.buffer(), &writer, escapes);
}

BlockWriter::BlockWriter(std::ostream& out) : out_(out) { buffer_.reserve(kBlockSize + 4096); }

BlockWriter::~BlockWriter() { flush(); }

void BlockWriter::flush() {
  if (buffer_.empty()) return;
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  buffer_.clear();
}

}  // namespace vexlo::json
