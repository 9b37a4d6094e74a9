// Parsing runs on the DOM parser of simdjson, whose runtime-dispatched
// kernels are the fast path. Its tape is then kept as the document's
// storage, with two corrections made exactly from the text: "-0" becomes
// the float -0.0, and integers beyond both 64-bit ranges (which the parser
// rejects) are rewritten as the nearest double before a second parse.

#include <algorithm>
#include <bit>
#include <limits>
#include <new>

#include "vexlo/json/document_storage.h"
#include "vexlo/json/json.h"
#include "vexlo/json/number_literals.h"

namespace vexlo::json {

static_assert(kPadding >= simdjson::SIMDJSON_PADDING);

namespace {

constexpr std::size_t kMaxDepth = 127;
// Tape indices are held in 32 bits; a text is never longer than this.
constexpr std::size_t kMaxTextSize = std::numeric_limits<std::uint32_t>::max() - 1024;

ParseError error_of(simdjson::error_code code) { return ParseError{simdjson::error_message(code)}; }

std::uint32_t tape_end(const std::uint64_t* words) {
  // The root word points just past the closing root word.
  return static_cast<std::uint32_t>(tape::payload_of(words[0]) - 1);
}

// The tape index after the value at `index`. Container starts must still
// hold the parser's payload (the index after their end).
std::uint32_t next_index(const std::uint64_t* words, std::uint32_t index) {
  const char type = tape::type_of(words[index]);
  if (tape::is_container(type)) return static_cast<std::uint32_t>(words[index] & 0xFFFFFFFFu);
  return index + (tape::is_number(type) ? 2 : 1);
}

// Rewrites each integer "-0" of the tape as the float -0.0.
void mark_negative_zeros(std::uint64_t* words, std::string_view text) {
  if (!may_hold_negative_zero(text)) return;
  const std::vector<std::size_t> ordinals = negative_zero_ordinals(text);
  if (ordinals.empty()) return;
  std::size_t ordinal = 0;
  auto wanted = ordinals.begin();
  const std::uint32_t end = tape_end(words);
  for (std::uint32_t index = 1; index < end && wanted != ordinals.end();) {
    const char type = tape::type_of(words[index]);
    if (!tape::is_number(type)) {
      ++index;
      continue;
    }
    if (ordinal == *wanted) {
      words[index] = tape::make('d', 0);
      words[index + 1] = std::bit_cast<std::uint64_t>(-0.0);
      ++wanted;
    }
    ++ordinal;
    index += 2;
  }
}

// A stable sort for short ranges.
template <class Iterator, class Less>
void insertion_sort(Iterator begin, Iterator end, Less less) {
  if (begin == end) return;
  for (auto it = begin + 1; it != end; ++it) {
    const auto item = *it;
    auto hole = it;
    for (; hole != begin && less(item, *(hole - 1)); --hole) *hole = *(hole - 1);
    *hole = item;
  }
}

// Builds the children index of the container at `index` and, below it, of
// every container still reachable once repeated names are dropped.
class Indexer {
 public:
  explicit Indexer(DocumentStorage& storage)
      : words_(storage.doc.tape.get()), strings_(storage.doc.string_buf.get()),
        children_(storage.children) {}

  void index_container(std::uint32_t index) {
    const bool is_object = tape::type_of(words_[index]) == '{';
    const std::uint32_t end = next_index(words_, index) - 1;  // the closing word
    const std::size_t offset = children_.size();
    children_.push_back(0);
    for (std::uint32_t at = index + 1; at < end;) {
      children_.push_back(at);
      at = next_index(words_, is_object ? at + 1 : at);
    }
    if (is_object) order_members(offset + 1);
    const std::size_t count = children_.size() - offset - 1;
    children_[offset] = static_cast<std::uint32_t>(count);
    words_[index] = tape::make(tape::type_of(words_[index]), offset);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t child = children_[offset + 1 + i] + (is_object ? 1 : 0);
      if (tape::is_container(tape::type_of(words_[child]))) index_container(child);
    }
  }

 private:
  std::string_view name(std::uint32_t index) const {
    return tape::string_at(strings_, tape::payload_of(words_[index]));
  }

  // Sorts the member names from `first` to the end of `children_` by their
  // bytes and keeps only the last of each run of equal names.
  void order_members(std::size_t first) {
    const auto begin = children_.begin() + static_cast<std::ptrdiff_t>(first);
    const auto by_name = [&](std::uint32_t a, std::uint32_t b) { return name(a) < name(b); };
    // Strictly ascending already (the usual case): nothing to sort or drop.
    const auto out_of_order = [&](std::uint32_t a, std::uint32_t b) { return !(name(a) < name(b)); };
    if (std::adjacent_find(begin, children_.end(), out_of_order) == children_.end()) return;
    if (children_.end() - begin <= kSmallObject) {
      // Most objects are small: an insertion sort needs no buffer.
      insertion_sort(begin, children_.end(), by_name);
    } else {
      std::stable_sort(begin, children_.end(), by_name);
    }
    auto out = begin;
    for (auto it = begin; it != children_.end(); ++it) {
      const auto next = it + 1;
      if (next != children_.end() && name(*next) == name(*it)) continue;
      *out++ = *it;
    }
    children_.erase(out, children_.end());
  }

  static constexpr std::ptrdiff_t kSmallObject = 16;

  std::uint64_t* words_;
  const std::uint8_t* strings_;
  std::vector<std::uint32_t>& children_;
};

}  // namespace

PaddedText::PaddedText(std::string& text) {
  if (text.capacity() - text.size() < kPadding) text.reserve(text.size() + kPadding);
  text_ = text;
}

struct ParserState {
  simdjson::dom::parser parser;
  bool allocated = false;

  // Parses `text` into `doc`; `padded` says whether the padding after the
  // text may be read in place.
  simdjson::error_code parse_into(simdjson::dom::document& doc, std::string_view text, bool padded) {
    if (text.size() > kMaxTextSize) return simdjson::CAPACITY;
    if (!allocated) {
      // The depth chosen here stays when the parser later grows.
      if (auto error = parser.allocate(std::max<std::size_t>(text.size(), 4096), kMaxDepth)) {
        return error;
      }
      allocated = true;
    }
    return parser.parse_into_document(doc, text.data(), text.size(), !padded).error();
  }

  // Parses with the huge-integer fallback. `replacement` receives the
  // rewritten text when one was needed; the tape then describes that text.
  std::expected<void, ParseError> parse_exact(simdjson::dom::document& doc, std::string_view text,
                                              bool padded, std::string& replacement) {
    simdjson::error_code error = parse_into(doc, text, padded);
    if (error == simdjson::NUMBER_ERROR) {
      auto rewritten = rewrite_huge_integers(text);
      if (!rewritten) return std::unexpected(error_of(error));
      replacement = std::move(*rewritten);
      error = parse_into(doc, replacement, false);
    }
    if (error) return std::unexpected(error_of(error));
    return {};
  }

  // The document's tape with its numbers corrected, not yet indexed.
  std::expected<std::unique_ptr<DocumentStorage>, ParseError> parse_tape(std::string_view text,
                                                                         bool padded) {
    auto storage = std::make_unique<DocumentStorage>();
    std::string replacement;
    if (auto parsed = parse_exact(storage->doc, text, padded, replacement); !parsed) {
      return std::unexpected(parsed.error());
    }
    mark_negative_zeros(storage->doc.tape.get(), replacement.empty() ? text : std::string_view(replacement));
    return storage;
  }

  std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp(std::string_view text,
                                                                            bool padded) {
    std::string replacement;
    if (auto parsed = parse_exact(parser.doc, text, padded, replacement); !parsed) {
      return std::unexpected(parsed.error());
    }
    const std::uint64_t* words = parser.doc.tape.get();
    if (tape::type_of(words[1]) != '{') return std::nullopt;
    const std::uint32_t end = next_index(words, 1) - 1;
    std::optional<std::uint32_t> found;
    for (std::uint32_t at = 2; at < end; at = next_index(words, at + 1)) {
      if (tape::string_at(parser.doc.string_buf.get(), tape::payload_of(words[at])) == "boot_timestamp") {
        found = at + 1;
      }
    }
    if (!found) return std::nullopt;
    const char type = tape::type_of(words[*found]);
    if (type != 'l') return std::nullopt;  // floats, and integers above the signed range
    const auto value = static_cast<std::int64_t>(words[*found + 1]);
    if (value == 0 && is_negative_zero(words, *found, replacement.empty() ? text : replacement)) {
      return std::nullopt;
    }
    return value;
  }

 private:
  // Whether the integer 0 at tape index `at` was written "-0".
  static bool is_negative_zero(const std::uint64_t* words, std::uint32_t at, std::string_view text) {
    if (!may_hold_negative_zero(text)) return false;
    std::size_t ordinal = 0;
    for (std::uint32_t index = 1; index < at;) {
      const char type = tape::type_of(words[index]);
      if (tape::is_number(type)) {
        ++ordinal;
        index += 2;
      } else {
        ++index;
      }
    }
    const std::vector<std::size_t> ordinals = negative_zero_ordinals(text);
    return std::binary_search(ordinals.begin(), ordinals.end(), ordinal);
  }
};

namespace {

Document index_document(std::unique_ptr<DocumentStorage> storage) {
  if (tape::is_container(tape::type_of(storage->word(1)))) {
    // Each container takes one entry plus one per child, and each of them
    // at least one tape word: reserving the tape's length spares the copies
    // of a growing vector. Pages not written to are never touched.
    storage->children.reserve(tape_end(storage->doc.tape.get()));
    Indexer(*storage).index_container(1);
  }
  return Document(std::move(storage));
}

std::expected<Document, ParseError> parse_and_index(ParserState& state, std::string_view text, bool padded) {
  auto storage = state.parse_tape(text, padded);
  if (!storage) return std::unexpected(storage.error());
  return index_document(std::move(*storage));
}

// Parses with a parser of its own, released before the index is built so
// that its buffers and the index are never held at the same time.
std::expected<Document, ParseError> parse_once(std::string_view text, bool padded) {
  auto storage = ParserState().parse_tape(text, padded);
  if (!storage) return std::unexpected(storage.error());
  return index_document(std::move(*storage));
}

// A document too large for the memory left is a failure like any other,
// not a reason to end the program.
template <class Parse>
auto within_memory(Parse parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const std::bad_alloc&) {
    return std::unexpected(ParseError{"not enough memory for the document"});
  }
}

}  // namespace

Parser::Parser() : state_(std::make_unique<ParserState>()) {}
Parser::Parser(Parser&&) noexcept = default;
Parser& Parser::operator=(Parser&&) noexcept = default;
Parser::~Parser() = default;

std::expected<Document, ParseError> Parser::parse(std::string_view text) {
  return within_memory([&] { return parse_and_index(*state_, text, false); });
}
std::expected<Document, ParseError> Parser::parse(PaddedText text) {
  return within_memory([&] { return parse_and_index(*state_, text.text(), true); });
}
std::expected<std::optional<std::int64_t>, ParseError> Parser::read_boot_timestamp(
    std::string_view text) {
  return within_memory([&] { return state_->read_boot_timestamp(text, false); });
}
std::expected<std::optional<std::int64_t>, ParseError> Parser::read_boot_timestamp(PaddedText text) {
  return within_memory([&] { return state_->read_boot_timestamp(text.text(), true); });
}

std::expected<Document, ParseError> parse(std::string_view text) {
  return within_memory([&] { return parse_once(text, false); });
}
std::expected<Document, ParseError> parse(PaddedText text) {
  return within_memory([&] { return parse_once(text.text(), true); });
}
std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp(std::string_view text) {
  return within_memory([&] { return ParserState().read_boot_timestamp(text, false); });
}
std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp(PaddedText text) {
  return within_memory([&] { return ParserState().read_boot_timestamp(text.text(), true); });
}

}  // namespace vexlo::json
