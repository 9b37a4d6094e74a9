#include <algorithm>
#include <bit>
#include <limits>

#include "vexlo/json/document_storage.h"
#include "vexlo/json/json.h"

namespace vexlo::json {

Kind Value::kind() const {
  const std::uint64_t word = storage_->word(index_);
  switch (tape::type_of(word)) {
    case 't':
    case 'f':
      return Kind::Boolean;
    case 'l':
      // The tape keeps every integer that fits the signed range as signed;
      // only negative literals are Signed here ("-0" is stored as a float).
      return static_cast<std::int64_t>(storage_->word(index_ + 1)) < 0 ? Kind::Signed
                                                                       : Kind::Unsigned;
    case 'u':
      return Kind::Unsigned;
    case 'd':
      return Kind::Float;
    case '"':
      return Kind::String;
    case '[':
      return Kind::Array;
    case '{':
      return Kind::Object;
    default:
      return Kind::Null;
  }
}

bool Value::as_bool() const { return tape::type_of(storage_->word(index_)) == 't'; }

std::uint64_t Value::as_unsigned() const {
  return kind() == Kind::Unsigned ? storage_->word(index_ + 1) : 0;
}

std::int64_t Value::as_signed() const {
  const char type = tape::type_of(storage_->word(index_));
  if (type == 'l') return static_cast<std::int64_t>(storage_->word(index_ + 1));
  if (type == 'u') {
    const std::uint64_t value = storage_->word(index_ + 1);
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(value);
    }
  }
  return 0;
}

double Value::as_float() const {
  const std::uint64_t raw = storage_->word(index_ + 1);
  switch (tape::type_of(storage_->word(index_))) {
    case 'd':
      return std::bit_cast<double>(raw);
    case 'l':
      return static_cast<double>(static_cast<std::int64_t>(raw));
    case 'u':
      return static_cast<double>(raw);
    default:
      return 0.0;
  }
}

std::string_view Value::as_string() const {
  if (tape::type_of(storage_->word(index_)) != '"') return {};
  return storage_->string(index_);
}

namespace {

// Offset of the container's entry in `children`, or nothing for scalars.
std::optional<std::size_t> children_offset(const DocumentStorage& storage, std::uint32_t index) {
  const std::uint64_t word = storage.word(index);
  if (!tape::is_container(tape::type_of(word))) return std::nullopt;
  return static_cast<std::size_t>(tape::payload_of(word));
}

// The tape index of element `index` (arrays) or of member `index`'s name
// (objects), or nothing when there is no such child.
std::optional<std::uint32_t> child(const DocumentStorage& storage, std::uint32_t index,
                                   std::size_t child_index) {
  const auto offset = children_offset(storage, index);
  if (!offset || child_index >= storage.children[*offset]) return std::nullopt;
  return storage.children[*offset + 1 + child_index];
}

// A value that reads as null: the root marker that closes the tape. Out of
// range accesses land here instead of reading outside the document.
Value null_value(const DocumentStorage* storage) {
  return Value(storage, static_cast<std::uint32_t>(tape::payload_of(storage->word(0)) - 1));
}

}  // namespace

std::size_t Value::size() const {
  const auto offset = children_offset(*storage_, index_);
  return offset ? storage_->children[*offset] : 0;
}

Value Value::element(std::size_t index) const {
  if (kind() != Kind::Array) return null_value(storage_);
  const auto at = child(*storage_, index_, index);
  return at ? Value(storage_, *at) : null_value(storage_);
}

std::string_view Value::member_name(std::size_t index) const {
  if (kind() != Kind::Object) return {};
  const auto at = child(*storage_, index_, index);
  return at ? storage_->string(*at) : std::string_view();
}

Value Value::member_value(std::size_t index) const {
  if (kind() != Kind::Object) return null_value(storage_);
  const auto at = child(*storage_, index_, index);
  return at ? Value(storage_, *at + 1) : null_value(storage_);
}

std::optional<Value> Value::find(std::string_view name) const {
  if (kind() != Kind::Object) return std::nullopt;
  const std::size_t offset = *children_offset(*storage_, index_);
  const auto* first = storage_->children.data() + offset + 1;
  const auto* last = first + storage_->children[offset];
  const auto* found = std::lower_bound(first, last, name, [&](std::uint32_t key, std::string_view wanted) {
    return storage_->string(key) < wanted;
  });
  if (found == last || storage_->string(*found) != name) return std::nullopt;
  return Value(storage_, *found + 1);
}

Document::Document(std::unique_ptr<DocumentStorage> storage) : storage_(std::move(storage)) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

ParsedDocument::ParsedDocument(std::unique_ptr<DocumentStorage> storage) : storage_(std::move(storage)) {}
ParsedDocument::ParsedDocument(ParsedDocument&&) noexcept = default;
ParsedDocument& ParsedDocument::operator=(ParsedDocument&&) noexcept = default;
ParsedDocument::~ParsedDocument() = default;

// The first tape word is the root marker; the value follows it.
Value Document::root() const { return Value(storage_.get(), 1); }

Value ParsedText::root() const { return Value(storage_, 1); }

std::optional<Value> ParsedText::first_inside(Value container) const {
  if (!tape::is_container(tape::type_of(storage_->word(ValueAccess::index(container))))) return std::nullopt;
  // A container's end is the word before the index its start holds.
  const std::uint32_t inside = ValueAccess::index(container) + 1;
  const char type = tape::type_of(storage_->word(inside));
  if (type == ']' || type == '}') return std::nullopt;
  return Value(storage_, inside);
}

std::optional<Value> ParsedText::next(Value value) const {
  const std::uint32_t after = tape::next_index(storage_->doc.tape.get(), ValueAccess::index(value));
  const char type = tape::type_of(storage_->word(after));
  if (type == ']' || type == '}') return std::nullopt;
  return Value(storage_, after);
}

}  // namespace vexlo::json
