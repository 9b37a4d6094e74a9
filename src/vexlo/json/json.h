#pragma once
// The one JSON layer of the tool: the database file, the log files and the
// output of `show` all go through it.
//
// A parsed document holds objects with their members in ascending byte
// order of their names (a repeated name keeps the later value), integers
// from 0 to 2^64-1 as Unsigned, negative integers that fit 64 bits as Signed
// (so a Signed value is always below 0), and every other number as a double.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace vexlo::json {

enum class Kind : std::uint8_t { Null, Boolean, Unsigned, Signed, Float, String, Array, Object };

struct DocumentStorage;  // defined by the implementation

// A read-only view of one value inside a Document; valid while the Document
// lives. An accessor asked for another kind than the value's gives false, 0
// or an empty text, except that as_signed also reads an Unsigned value that
// fits and as_float reads any number.
class Value {
 public:
  Kind kind() const;
  bool as_bool() const;
  std::uint64_t as_unsigned() const;
  std::int64_t as_signed() const;
  double as_float() const;
  std::string_view as_string() const;

  // Elements of an array or members of an object; 0 for other kinds.
  std::size_t size() const;
  Value element(std::size_t index) const;               // arrays
  std::string_view member_name(std::size_t index) const;  // objects
  Value member_value(std::size_t index) const;          // objects
  std::optional<Value> find(std::string_view name) const;  // objects

  Value(const DocumentStorage* storage, std::uint32_t index) : storage_(storage), index_(index) {}

 private:
  friend struct ValueAccess;  // the implementation's own walks of the tape
  const DocumentStorage* storage_;
  std::uint32_t index_;
};

class Document {
 public:
  explicit Document(std::unique_ptr<DocumentStorage> storage);
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();
  Value root() const;

 private:
  std::unique_ptr<DocumentStorage> storage_;
};

// Why a text is not one JSON value; never shown to users. Memory that ran
// out (see common/out_of_memory.h) is said apart, as no fault of the text.
struct ParseError {
  std::string description;
  bool out_of_memory = false;
};

// Bytes of readable memory the parser needs after the end of a text to read
// it in place.
inline constexpr std::size_t kPadding = 64;

// A text with at least kPadding bytes of its own allocation after its end
// (their content does not matter), so that parsing needs no copy. Reading a
// file into a reused std::string reserved for size + kPadding avoids copies.
class PaddedText {
 public:
  // Grows the string's capacity when it lacks the padding; its size and
  // content stay. The view is valid until the string changes.
  explicit PaddedText(std::string& text);
  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

// A whole document as the parser leaves it, before the index that gives
// its values random access: it can only be written out (append_compact),
// which orders each object's members as it goes. For a document that is
// written once and not otherwise read, that is the cheaper form.
class ParsedText {
 public:
  explicit ParsedText(const DocumentStorage* storage) : storage_(storage) {}

  // It can also be read once in the order of its text, repeated member
  // names included. Of the root, and of any array or object reached, only
  // the kind may be asked: what they hold comes from first_inside and
  // next. Scalars read as in a document.
  Value root() const;
  // The first element of an array, or the name of an object's first member
  // (a string, followed by the member's value); none when it is empty.
  std::optional<Value> first_inside(Value container) const;
  // What follows `value` inside its array or object (after a member's
  // name, the member's value); none after the last.
  std::optional<Value> next(Value value) const;

 private:
  friend struct ValueAccess;
  const DocumentStorage* storage_;
};

// A whole document parsed without the index (parse_for_writing), which
// owns what its ParsedText views.
class ParsedDocument {
 public:
  explicit ParsedDocument(std::unique_ptr<DocumentStorage> storage);
  ParsedDocument(ParsedDocument&&) noexcept;
  ParsedDocument& operator=(ParsedDocument&&) noexcept;
  ~ParsedDocument();
  ParsedText text() const { return ParsedText(storage_.get()); }

 private:
  std::unique_ptr<DocumentStorage> storage_;
};

struct ParserState;  // defined by the implementation

// Reads many texts one after another, reusing its buffers: for their boot
// timestamps, as the scan of a log tree does, or whole.
class Parser {
 public:
  Parser();
  Parser(Parser&&) noexcept;
  Parser& operator=(Parser&&) noexcept;
  ~Parser();

  // Checks the text under the same rules as parse and returns the top-level
  // "boot_timestamp" member when the value is an object whose member of
  // that name (the later one if repeated) is an integer in the signed 64-bit
  // range.
  std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp(PaddedText text);
  // Parses a whole text as parse does, into a document that this parser
  // keeps and the next parse_in_place replaces, so that parsing many texts
  // one after another allocates once for the largest. The value is valid
  // until then.
  std::expected<Value, ParseError> parse_in_place(PaddedText text);
  // The same without the index, valid likewise until the next parse.
  std::expected<ParsedText, ParseError> parse_for_writing(PaddedText text);

 private:
  std::unique_ptr<ParserState> state_;
};

// Parses one whole text: only space, tab, line feed and carriage return
// around exactly one value, at most 127 levels of nesting, of which the
// 127th may only be an empty array or object. The padded form parses in
// place, the other copies the text first.
std::expected<Document, ParseError> parse(std::string_view text);
std::expected<Document, ParseError> parse(PaddedText text);
// The same without the index, for a document that is only written out; the
// parser's buffers are let go before it returns.
std::expected<ParsedDocument, ParseError> parse_for_writing(PaddedText text);

// False when the first bytes of a text show that it cannot be one JSON
// value: its first byte other than space, tab, line feed and carriage
// return cannot begin one. True for a head that is blank throughout.
bool may_begin_value(std::string_view head);

// Which characters inside strings the writers escape. Each form keeps the
// JSON value; they differ in what may reach a terminal raw.
enum class Escapes {
  // What JSON needs: quotes, backslashes and the C0 controls. The database
  // file, and show --pretty into a pipe, whose bytes have always been so.
  Json,
  // Also DEL and U+0080 to U+009F, wherever the text goes: the one-line
  // forms (show --json, the JSON listing lines), fixed so for scripts.
  Controls,
  // Also the characters that reorder or hide text: any JSON for a terminal
  // (what hidden_character_at in common/terminal_text.h finds).
  Terminal,
};

// Appends the text in double quotes with the escaping of the database file:
// \" \\ \b \t \n \f \r, other control characters as \u00xx, all else as is.
void append_quoted(std::string& out, std::string_view text);

// Like append_quoted, and also escapes DEL and the C1 controls U+0080 to
// U+009F (\u007f, \u0080 ...), so that the quoted text holds no control
// character at all and may go to a terminal as it is. A JSON reader gets
// the same string back. Escapes::Terminal escapes more.
void append_quoted_without_controls(std::string& out, std::string_view text, Escapes escapes = Escapes::Controls);

// Appends a float as the tool prints it: the shortest round-trip digits, in
// plain decimal with ".0" on whole values when the first digit's exponent is
// from -5 to 15 (100.0, 0.00001), otherwise as 1e+16, 1.5e-7; -0.0 keeps
// its sign.
void append_number(std::string& out, double value);

// Appends the number text of a number value: integers in plain decimal,
// floats as above.
void append_number(std::string& out, Value value);

// Appends the value as indented JSON (two spaces per level), without a
// final newline.
void append_pretty(std::string& out, Value value, Escapes escapes = Escapes::Json);

// Writes the text append_pretty gives of the document's root to `out` in
// large blocks, without holding all of it in memory.
void write_pretty(std::ostream& out, ParsedText document, Escapes escapes = Escapes::Json);

// Appends the value as compact JSON on one line: no white space, members in
// the order held, numbers as append_number, strings as
// append_quoted_without_controls unless `escapes` asks for more. No final
// newline.
void append_compact(std::string& out, Value value, Escapes escapes = Escapes::Controls);
// The same text of a whole document, appended, or written to `out` in
// large blocks.
void write_compact(std::ostream& out, ParsedText document, Escapes escapes = Escapes::Controls);
void append_compact(std::string& out, ParsedText document, Escapes escapes = Escapes::Controls);

// Collects text and hands it to a stream in large blocks.
class BlockWriter {
 public:
  explicit BlockWriter(std::ostream& out);
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;
  ~BlockWriter();  // flushes

  // The buffer to append to; call flush_if_full() after appending.
  std::string& buffer() { return buffer_; }
  void flush_if_full() {
    if (buffer_.size() >= kBlockSize) flush();
  }
  void flush();

  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

 private:
  std::ostream& out_;
  std::string buffer_;
};

}  // namespace vexlo::json
