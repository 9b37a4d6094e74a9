// Parsing runs on the DOM parser of simdjson, whose runtime-dispatched
// kernels are the fast path. Its tape is then kept as the document's
// storage (or, when the library's tape is laid out otherwise, written anew
// from the parsed value; see tape_layout.h), with two corrections made exactly from the text: "-0" becomes
// the float -0.0, and integers beyond both 64-bit ranges (which the parser
// rejects) are rewritten as the nearest double before a second parse.

#include <algorithm>
#include <bit>

#include "vexlo/common/out_of_memory.h"
#include "vexlo/json/document_storage.h"
#include "vexlo/json/json.h"
#include "vexlo/json/number_literals.h"
#include "vexlo/json/streamed_check.h"
#include "vexlo/json/tape_layout.h"

namespace vexlo::json {

static_assert(kPadding >= simdjson::SIMDJSON_PADDING);

namespace {

constexpr std::size_t kMaxDepth = 127;

ParseError error_of(simdjson::error_code code) {
  return ParseError{simdjson::error_message(code), code == simdjson::MEMALLOC};
}

std::uint32_t tape_end(const std::uint64_t* words) {
  // The root word points just past the closing root word.
  return static_cast<std::uint32_t>(tape::payload_of(words[0]) - 1);
}

using tape::next_index;

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

constexpr std::size_t kSmallObject = 16;

}  // namespace

void MemberOrder::order(std::vector<Named>& members, const DocumentStorage& storage) {
  const auto less = [&](const Named& a, const Named& b) {
    return a.prefix != b.prefix ? a.prefix < b.prefix : storage.string(a.index) < storage.string(b.index);
  };
  // Strictly ascending already: nothing to sort or drop.
  const auto out_of_order = [&](const Named& a, const Named& b) { return !less(a, b); };
  if (std::adjacent_find(members.begin(), members.end(), out_of_order) == members.end()) return;
  if (members.size() <= kSmallObject) {
    // Most objects are small: an insertion sort needs no buffer.
    insertion_sort(members.begin(), members.end(), less);
  } else {
    std::stable_sort(members.begin(), members.end(), less);
  }
  auto out = members.begin();
  for (auto it = members.begin(); it != members.end(); ++it) {
    const auto next = it + 1;
    if (next != members.end() && !less(*it, *next)) continue;  // sorted: equal names, the later kept
    *out++ = *it;
  }
  members.erase(out, members.end());
}

std::size_t MemberOrder::order(std::span<std::uint32_t> members, const DocumentStorage& storage) {
  named_.clear();
  // Room for these members exactly: a list grown by doubling would hold
  // three times as much while it moves, more than a document is counted for.
  if (named_.capacity() < members.size()) {
    std::vector<Named>().swap(named_);
    named_.reserve(members.size());
  }
  for (const std::uint32_t index : members) named_.push_back(named(storage, index));
  order(named_, storage);
  for (std::size_t i = 0; i < named_.size(); ++i) members[i] = named_[i].index;
  return named_.size();
}

void MemberOrder::size_member_lists(DocumentStorage& storage) {
  const std::uint64_t* words = storage.doc.tape.get();
  const std::uint32_t end = tape_end(words);
  std::vector<std::size_t> most;  // the members of the largest object at each depth
  std::size_t depth = 0;
  for (std::uint32_t at = 1; at < end;) {
    const char type = tape::type_of(words[at]);
    if (tape::is_container(type)) {
      if (most.size() <= depth) most.resize(depth + 1, 0);
      if (type == '{') {
        std::size_t members = 0;
        const std::uint32_t last = next_index(words, at) - 1;
        for (std::uint32_t name = at + 1; name < last; name = next_index(words, name + 1)) ++members;
        most[depth] = std::max(most[depth], members);
      }
      ++depth;
      ++at;
    } else if (type == ']' || type == '}') {
      --depth;
      ++at;
    } else {
      at += tape::is_number(type) ? 2 : 1;
    }
  }
  storage.member_lists.resize(most.size());
  for (std::size_t i = 0; i < most.size(); ++i) {
    std::vector<Named>& list = storage.member_lists[i];
    if (list.capacity() >= most[i]) continue;
    std::vector<Named>().swap(list);
    list.reserve(most[i]);
  }
}

namespace {

// Builds the children index of every container in one pass along the tape.
// A container, as it opens, takes its entry at the end of the index, room
// for its count and its children, which it knows by stepping over them; its
// children fill it as they are met, and an object's members are put in name
// order when it closes. Walking the tape in order keeps the pass within the
// cache; containers that a repeated name leaves unreachable are indexed
// too and simply never met.
class Indexer {
 public:
  explicit Indexer(DocumentStorage& storage)
      : storage_(storage), words_(storage.doc.tape.get()), children_(storage.children) {}

  // `root` is the tape index of a container.
  void index(std::uint32_t root) {
    const std::uint32_t end = next_index(words_, root);
    for (std::uint32_t at = root; at < end;) {
      const char type = tape::type_of(words_[at]);
      if (type == '[' || type == '{') {
        note_child(at);
        open(at, type == '{');
        ++at;
      } else if (type == ']' || type == '}') {
        close();
        ++at;
      } else {
        note_child(at);
        at += tape::is_number(type) ? 2 : 1;
      }
    }
  }

 private:
  struct OpenContainer {
    std::uint32_t start;
    bool is_object;
    bool expects_name;  // objects: the next word is a member's name
    std::size_t entry;  // its place in the index
    std::size_t next;   // where its next child goes
  };

  // Arrays list their elements, objects the names of their members (the
  // value follows its name on the tape).
  void note_child(std::uint32_t at) {
    if (open_.empty()) return;  // the root
    OpenContainer& parent = open_.back();
    if (!parent.is_object || parent.expects_name) children_[parent.next++] = at;
    if (parent.is_object) parent.expects_name = !parent.expects_name;
  }

  // Read before any container inside it closes and its start word becomes
  // its place in the index.
  std::uint32_t child_count(std::uint32_t start, bool is_object) const {
    const std::uint32_t end = next_index(words_, start) - 1;
    std::uint32_t count = 0;
    for (std::uint32_t at = start + 1; at < end; at = next_index(words_, is_object ? at + 1 : at)) ++count;
    return count;
  }

  void open(std::uint32_t start, bool is_object) {
    const std::uint32_t count = child_count(start, is_object);
    const std::size_t entry = children_.size();
    children_.resize(entry + 1 + count);
    children_[entry] = count;
    open_.push_back({start, is_object, true, entry, entry + 1});
  }

  void close() {
    const OpenContainer container = open_.back();
    if (container.is_object) {
      // A repeated name leaves fewer members than places.
      children_[container.entry] = static_cast<std::uint32_t>(
          member_order_.order({children_.data() + container.entry + 1, children_[container.entry]}, storage_));
    }
    words_[container.start] = tape::make(tape::type_of(words_[container.start]), container.entry);
    open_.pop_back();
  }

  const DocumentStorage& storage_;
  std::uint64_t* words_;
  std::vector<std::uint32_t>& children_;
  MemberOrder member_order_;
  std::vector<OpenContainer> open_;  // from the root inwards
};

}  // namespace

PaddedText::PaddedText(std::string& text) {
  if (text.capacity() - text.size() < kPadding) text.reserve(text.size() + kPadding);
  text_ = text;
}

struct ParserState {
  simdjson::dom::parser parser;
  bool allocated = false;
  DocumentStorage reused;  // of parse_in_place
  simdjson::dom::document library_tape;  // as the library writes it, when that layout is not known

  // Parses `text` into `doc`; `padded` says whether the padding after the
  // text may be read in place.
  simdjson::error_code parse_into(simdjson::dom::document& doc, std::string_view text, bool padded) {
    if (text.size() > kMaxTextSize) return simdjson::CAPACITY;
    // Later releases of the library skip a byte order mark; a text begins
    // with white space or its value.
    if (text.starts_with("\xEF\xBB\xBF")) return simdjson::TAPE_ERROR;
    if (!allocated) {
      // The depth chosen here stays when the parser later grows.
      if (auto error = parser.allocate(std::max<std::size_t>(text.size(), 4096), kMaxDepth)) {
        return error;
      }
      allocated = true;
    }
    if (library_tape_is_known()) return parser.parse_into_document(doc, text.data(), text.size(), !padded).error();
    simdjson::dom::element root;
    if (auto error = parser.parse_into_document(library_tape, text.data(), text.size(), !padded).get(root)) {
      return error;
    }
    return write_tape(root, doc);
  }

  // Parses with the huge-integer fallback. `replacement` receives the
  // rewritten text when one was needed; the tape then describes that text.
  std::expected<void, ParseError> parse_exact(simdjson::dom::document& doc, std::string_view text,
                                              bool padded, std::string& replacement) {
    simdjson::error_code error = parse_into(doc, text, padded);
    if (is_huge_integer_error(error)) {
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

  // Parses into `reused`, leaving it not indexed.
  std::expected<void, ParseError> parse_reused(PaddedText text) {
    reused.indexed = false;
    std::string replacement;
    if (auto parsed = parse_exact(reused.doc, text.text(), true, replacement); !parsed) return parsed;
    mark_negative_zeros(reused.doc.tape.get(), replacement.empty() ? text.text() : std::string_view(replacement));
    MemberOrder::size_member_lists(reused);
    return {};
  }

  std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp(PaddedText padded_text) {
    const std::string_view text = padded_text.text();
    std::string replacement;
    if (auto parsed = parse_exact(parser.doc, text, true, replacement); !parsed) {
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

void index_storage(DocumentStorage& storage) {
  storage.children.clear();
  storage.indexed = true;
  if (tape::is_container(tape::type_of(storage.word(1)))) {
    // Each container takes one entry plus one per child, and each of them
    // at least one tape word: reserving the tape's length spares the copies
    // of a growing vector. Pages not written to are never touched.
    storage.children.reserve(tape_end(storage.doc.tape.get()));
    Indexer(storage).index(1);
  }
}

Document index_document(std::unique_ptr<DocumentStorage> storage) {
  index_storage(*storage);
  return Document(std::move(storage));
}

// Parses with a parser of its own, released before the index is built so
// that its buffers and the index are never held at the same time.
std::expected<Document, ParseError> parse_once(std::string_view text, bool padded) {
  auto storage = ParserState().parse_tape(text, padded);
  if (!storage) return std::unexpected(storage.error());
  return index_document(std::move(*storage));
}

// A document too large for the memory left fails as a value (see
// common/out_of_memory.h).
template <class Parse>
auto parse_within_memory(Parse parse) -> decltype(parse()) {
  return within_memory(parse, [] { return std::unexpected(error_of(simdjson::MEMALLOC)); });
}

}  // namespace

Parser::Parser() : state_(std::make_unique<ParserState>()) {}
Parser::Parser(Parser&&) noexcept = default;
Parser& Parser::operator=(Parser&&) noexcept = default;
Parser::~Parser() = default;

std::expected<std::optional<std::int64_t>, ParseError> Parser::read_boot_timestamp(PaddedText text) {
  // The parser's index and tape would cost several times a large text's
  // size, only to be dropped: such a text is checked in a single pass.
  if (text.text().size() >= kStreamedCheckFrom) return read_boot_timestamp_streamed(text.text());
  return parse_within_memory([&] { return state_->read_boot_timestamp(text); });
}

std::expected<Value, ParseError> Parser::parse_in_place(PaddedText text) {
  return parse_within_memory([&]() -> std::expected<Value, ParseError> {
    auto parsed = state_->parse_reused(text);
    if (!parsed) return std::unexpected(parsed.error());
    index_storage(state_->reused);
    return Value(&state_->reused, 1);
  });
}

std::expected<ParsedText, ParseError> Parser::parse_for_writing(PaddedText text) {
  return parse_within_memory([&]() -> std::expected<ParsedText, ParseError> {
    auto parsed = state_->parse_reused(text);
    if (!parsed) return std::unexpected(parsed.error());
    return ParsedText(&state_->reused);
  });
}

bool may_begin_value(std::string_view head) {
  const auto first = head.find_first_not_of(" \t\n\r");
  if (first == std::string_view::npos) return true;
  const char c = head[first];
  return c == '{' || c == '[' || c == '"' || c == '-' || (c >= '0' && c <= '9') || c == 't' || c == 'f' ||
         c == 'n';
}

std::expected<Document, ParseError> parse(std::string_view text) {
  return parse_within_memory([&] { return parse_once(text, false); });
}
std::expected<Document, ParseError> parse(PaddedText text) {
  return parse_within_memory([&] { return parse_once(text.text(), true); });
}

std::expected<ParsedDocument, ParseError> parse_for_writing(PaddedText text) {
  return parse_within_memory([&]() -> std::expected<ParsedDocument, ParseError> {
    auto storage = ParserState().parse_tape(text.text(), true);
    if (!storage) return std::unexpected(storage.error());
    MemberOrder::size_member_lists(**storage);
    return ParsedDocument(std::move(*storage));
  });
}

}  // namespace vexlo::json
