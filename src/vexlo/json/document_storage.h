#pragma once
// What a Document holds: the parser's tape of values and its string buffer,
// plus an index that gives arrays and objects random access to their
// elements and objects their members in name order.
//
// Tape entries are 64-bit words: the top byte names the kind, the low 56
// bits carry a payload. Numbers take two words (kind, then the raw bits);
// strings point into the string buffer, where a 32-bit length precedes the
// bytes. After indexing, the payload of an array or object start is the
// offset of its entry in `children`: the count, then the tape index of each
// element (arrays) or of each member's name (objects; the value follows the
// name on the tape).

#include <simdjson.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "vexlo/json/json.h"

namespace vexlo::json {

// The layout below is that of simdjson 3.0 and later; tape_layout.h checks
// at run time that the library in use writes it, and writes it otherwise.

namespace tape {

inline constexpr std::uint64_t kPayloadMask = (std::uint64_t{1} << 56) - 1;

inline char type_of(std::uint64_t word) { return static_cast<char>(word >> 56); }
inline std::uint64_t payload_of(std::uint64_t word) { return word & kPayloadMask; }
inline std::uint64_t make(char type, std::uint64_t payload) {
  return (std::uint64_t{static_cast<unsigned char>(type)} << 56) | payload;
}
inline bool is_number(char type) { return type == 'l' || type == 'u' || type == 'd'; }
inline bool is_container(char type) { return type == '[' || type == '{'; }

inline std::string_view string_at(const std::uint8_t* string_buf, std::uint64_t offset) {
  std::uint32_t length;
  std::memcpy(&length, string_buf + offset, sizeof length);
  return {reinterpret_cast<const char*>(string_buf + offset + sizeof length), length};
}

// The tape index after the value at `index`, on a tape not yet indexed
// (where a container's start still holds the index after its end).
inline std::uint32_t next_index(const std::uint64_t* words, std::uint32_t index) {
  const char type = type_of(words[index]);
  if (is_container(type)) return static_cast<std::uint32_t>(words[index] & 0xFFFFFFFFu);
  return index + (is_number(type) ? 2 : 1);
}

}  // namespace tape

// A member's name as an object's members are put in order: its tape
// index, and its first bytes as a number that orders as the bytes do,
// taken once so that most comparisons need no more.
struct MemberName {
  std::uint64_t prefix;
  std::uint32_t index;
};

struct DocumentStorage {
  simdjson::dom::document doc;
  std::vector<std::uint32_t> children;
  bool indexed = false;  // `children` describes the tape
  // Of a document not indexed: for each depth, room for the members of its
  // largest object, taken as it is parsed, through which writing it puts
  // members in order without taking memory (see size_member_lists).
  mutable std::vector<std::vector<MemberName>> member_lists;

  std::uint64_t word(std::uint32_t index) const { return doc.tape[index]; }
  std::string_view string(std::uint32_t index) const {
    return tape::string_at(doc.string_buf.get(), tape::payload_of(word(index)));
  }
};

// Puts an object's member names in the order in which a document holds its
// members: by the names' bytes, only the last of each run of equal names
// kept. For tape indices, through a buffer reused from object to object.
class MemberOrder {
 public:
  using Named = MemberName;
  static Named named(const DocumentStorage& storage, std::uint32_t index) {
    const std::uint8_t* at = storage.doc.string_buf.get() + tape::payload_of(storage.word(index));
    std::uint32_t length;
    std::memcpy(&length, at, sizeof length);
    std::uint64_t bytes;
    // Readable past the name's end: a zero and further strings or the
    // buffer's padding follow.
    std::memcpy(&bytes, at + sizeof length, sizeof bytes);
    if constexpr (std::endian::native == std::endian::little) bytes = std::byteswap(bytes);
    // Zeros after a shorter name.
    if (length < sizeof bytes) bytes &= ~(~std::uint64_t{0} >> (8 * length));
    return {bytes, index};
  }
  static void order(std::vector<Named>& members, const DocumentStorage& storage);
  // Gives a document not indexed its member_lists.
  static void size_member_lists(DocumentStorage& storage);

  // The members' tape indices put in order in place; returns how many are
  // left.
  std::size_t order(std::span<std::uint32_t> members, const DocumentStorage& storage);

 private:
  std::vector<Named> named_;
};

// Where a Value lies, for code of this module that walks the tape itself.
struct ValueAccess {
  static const DocumentStorage& storage(Value value) { return *value.storage_; }
  static std::uint32_t index(Value value) { return value.index_; }
  static const DocumentStorage& storage(ParsedText document) { return *document.storage_; }
};

}  // namespace vexlo::json
