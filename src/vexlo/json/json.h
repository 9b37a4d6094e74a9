#pragma once
// The one JSON layer of the tool: the database file, the log files and the
// output of `show` all go through it.
//
// A parsed document holds objects with their members in ascending byte
// order of their names (a repeated name keeps the later value), integers as
// unsigned or signed 64-bit numbers and every other number as a double.

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
// lives.
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

// Why a text is not one JSON value; never shown to users.
struct ParseError {
  std::string description;
};

// Parses one whole text: only space, tab, line feed and carriage return
// around exactly one value, at most 127 levels of nesting.
std::expected<Document, ParseError> parse(std::string_view text);

// Checks the text under the same rules as parse and returns the top-level
// "boot_timestamp" member when the value is an object whose member of that
// name (the later one if repeated) is an integer in the signed 64-bit range.
std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp(std::string_view text);

// Appends the text in double quotes with the escaping of the database file:
// \" \\ \b \t \n \f \r, other control characters as \u00xx, all else as is.
void append_quoted(std::string& out, std::string_view text);

// Appends a number as the tool prints it: integers in plain decimal, floats
// in their shortest round-trip form (1.0, 1e+16, 1.5e-7, -0.0).
void append_number(std::string& out, double value);

// Appends the value as indented JSON (two spaces per level), without a
// final newline.
void append_pretty(std::string& out, Value value);

}  // namespace vexlo::json
