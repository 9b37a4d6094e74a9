// The layout written here is the one document_storage.h describes: a root
// word at each end (the first holding the tape's length), containers as a
// start word holding the index after their end (and the count of their
// children above bit 32) and an end word holding the index of their start,
// numbers as a kind word and the raw 64 bits, strings as the offset of
// their 32-bit length, bytes and a zero in the string buffer.

#include "vexlo/json/tape_layout.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "vexlo/json/document_storage.h"

namespace vexlo::json {
namespace {

using Type = simdjson::dom::element_type;

constexpr std::uint64_t kMaxCount = 0xFFFFFF;

// Counts the words and string bytes a value takes, then writes them.
class TapeWriter {
 public:
  void count(simdjson::dom::element value) {
    switch (value.type()) {
      case Type::ARRAY:
        words_ += 2;
        for (const simdjson::dom::element element : array_of(value)) count(element);
        break;
      case Type::OBJECT:
        words_ += 2;
        for (const simdjson::dom::key_value_pair member : object_of(value)) {
          count_string(member.key);
          count(member.value);
        }
        break;
      case Type::STRING:
        count_string(value.get_string().value_unsafe());
        break;
      case Type::INT64:
      case Type::UINT64:
      case Type::DOUBLE:
        words_ += 2;
        break;
      case Type::BOOL:
      case Type::NULL_VALUE:
        words_ += 1;
        break;
      default:
        // A kind of value this module does not know, from a later library.
        unknown_ = true;
    }
  }

  simdjson::error_code write(simdjson::dom::element root, simdjson::dom::document& doc) {
    words_ += 2;  // the root words
    if (unknown_) return simdjson::UNEXPECTED_ERROR;
    if (auto error = doc.allocate(std::max(words_, strings_))) return error;
    tape_ = doc.tape.get();
    strings_buffer_ = doc.string_buf.get();
    tape_[at_++] = 0;
    value(root);
    tape_[0] = tape::make('r', at_ + 1);
    tape_[at_++] = tape::make('r', 0);
    return simdjson::SUCCESS;
  }

 private:
  // The container of a value, held apart from the result it came in.
  static simdjson::dom::array array_of(simdjson::dom::element value) {
    simdjson::dom::array array;
    [[maybe_unused]] const auto error = value.get_array().get(array);  // asked of arrays only
    return array;
  }
  static simdjson::dom::object object_of(simdjson::dom::element value) {
    simdjson::dom::object object;
    [[maybe_unused]] const auto error = value.get_object().get(object);  // asked of objects only
    return object;
  }

  void count_string(std::string_view text) {
    words_ += 1;
    strings_ += sizeof(std::uint32_t) + text.size() + 1;
  }

  void value(simdjson::dom::element value) {
    switch (value.type()) {
      case Type::ARRAY: {
        const std::size_t start = open();
        std::uint64_t children = 0;
        for (const simdjson::dom::element element : array_of(value)) {
          this->value(element);
          ++children;
        }
        close(start, '[', ']', children);
        break;
      }
      case Type::OBJECT: {
        const std::size_t start = open();
        std::uint64_t children = 0;
        for (const simdjson::dom::key_value_pair member : object_of(value)) {
          string(member.key);
          this->value(member.value);
          ++children;
        }
        close(start, '{', '}', children);
        break;
      }
      case Type::STRING:
        string(value.get_string().value_unsafe());
        break;
      case Type::INT64:
        number('l', static_cast<std::uint64_t>(value.get_int64().value_unsafe()));
        break;
      case Type::UINT64:
        number('u', value.get_uint64().value_unsafe());
        break;
      case Type::DOUBLE:
        number('d', std::bit_cast<std::uint64_t>(value.get_double().value_unsafe()));
        break;
      case Type::BOOL:
        tape_[at_++] = tape::make(value.get_bool().value_unsafe() ? 't' : 'f', 0);
        break;
      case Type::NULL_VALUE:
        tape_[at_++] = tape::make('n', 0);
        break;
      default:
        break;  // refused by write before any word is written
    }
  }

  std::size_t open() { return at_++; }
  void close(std::size_t start, char open_type, char close_type, std::uint64_t children) {
    tape_[at_] = tape::make(close_type, start);
    ++at_;
    tape_[start] = tape::make(open_type, (std::min(children, kMaxCount) << 32) | at_);
  }

  void number(char type, std::uint64_t bits) {
    tape_[at_++] = tape::make(type, 0);
    tape_[at_++] = bits;
  }

  void string(std::string_view text) {
    tape_[at_++] = tape::make('"', string_at_);
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(strings_buffer_ + string_at_, &length, sizeof length);
    std::memcpy(strings_buffer_ + string_at_ + sizeof length, text.data(), text.size());
    string_at_ += sizeof length + text.size();
    strings_buffer_[string_at_++] = 0;
  }

  bool unknown_ = false;
  std::size_t words_ = 0;
  std::size_t strings_ = 0;
  std::uint64_t* tape_ = nullptr;
  std::uint8_t* strings_buffer_ = nullptr;
  std::size_t at_ = 0;
  std::size_t string_at_ = 0;
};

// Every kind of value, nested, with a name and a string past the first
// bytes of the buffer.
constexpr std::string_view kProbe =
    R"({"b":[1,-2,18446744073709551615,1.5,-0.25,"text with \"escapes\"",true,false,null,[],{}],)"
    R"("a":{"x":{"y":[[0]]}},"":""})";

bool probe_reads_as_known() {
  simdjson::dom::parser library;
  simdjson::dom::element root;
  if (library.parse(kProbe.data(), kProbe.size()).get(root)) return false;
  simdjson::dom::document written;
  if (write_tape(root, written)) return false;
  return same_tape(library.doc, written);
}

}  // namespace

simdjson::error_code write_tape(simdjson::dom::element root, simdjson::dom::document& doc) {
  TapeWriter writer;
  writer.count(root);
  return writer.write(root, doc);
}

bool same_tape(const simdjson::dom::document& a, const simdjson::dom::document& b) {
  const std::uint64_t* x = a.tape.get();
  const std::uint64_t* y = b.tape.get();
  if (x[0] != y[0] || tape::type_of(x[0]) != 'r') return false;
  const std::uint64_t end = tape::payload_of(x[0]);
  for (std::uint64_t i = 1; i < end; ++i) {
    const char type = tape::type_of(x[i]);
    if (type != tape::type_of(y[i])) return false;
    if (type == '"') {
      if (tape::string_at(a.string_buf.get(), tape::payload_of(x[i])) !=
          tape::string_at(b.string_buf.get(), tape::payload_of(y[i]))) {
        return false;
      }
    } else if (tape::is_number(type)) {
      if (x[i + 1] != y[i + 1]) return false;
      ++i;
    } else if (tape::is_container(type) && (x[i] & 0xFFFFFFFFu) != (y[i] & 0xFFFFFFFFu)) {
      return false;
    }
  }
  return true;
}

bool library_tape_is_known() {
  // Computed once, by whichever thread asks first; constant afterwards.
  static const bool known = probe_reads_as_known();
  return known;
}

}  // namespace vexlo::json
