#include "vexlo/db/database_file.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <new>
#include <optional>

#include "vexlo/common/utf8.h"
#include "vexlo/json/json.h"

namespace vexlo {
namespace {

constexpr std::uint64_t kLargestId = std::numeric_limits<std::uint64_t>::max();

// Negative integers are the only Signed ones, so Unsigned covers 0 and up.
std::optional<std::uint64_t> unsigned_integer(const json::Value& value) {
  if (value.kind() == json::Kind::Unsigned) return value.as_unsigned();
  return std::nullopt;
}

std::uint64_t one_above(std::uint64_t id) { return id == kLargestId ? kLargestId : id + 1; }

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Every integer that follows `"<name>"`, optional space, ":" and optional
// space in the bytes. Numbers with a fraction or an exponent, negative ones
// and ones beyond 64 bits are no IDs and are left out; digits cut off at
// the end of the bytes count as they stand.
template <class Visit>
void for_each_number_after(std::string_view bytes, std::string_view quoted_name, Visit visit) {
  for (auto at = bytes.find(quoted_name); at != std::string_view::npos; at = bytes.find(quoted_name, at + 1)) {
    std::size_t i = at + quoted_name.size();
    while (i < bytes.size() && is_json_space(bytes[i])) ++i;
    if (i == bytes.size() || bytes[i] != ':') continue;
    ++i;
    while (i < bytes.size() && is_json_space(bytes[i])) ++i;
    std::uint64_t number = 0;
    const char* const last = bytes.data() + bytes.size();
    const auto [end, error] = std::from_chars(bytes.data() + i, last, number);
    const bool integer = end == last || (*end != '.' && *end != 'e' && *end != 'E');
    if (error == std::errc() && integer) visit(number);
  }
}

std::optional<FileEntry> entry_from(const json::Value& element) {
  if (element.kind() != json::Kind::Object) return std::nullopt;
  const auto path = element.find("path");
  const auto id = element.find("id");
  if (!path || path->kind() != json::Kind::String || !id) return std::nullopt;
  const auto number = unsigned_integer(*id);
  if (!number) return std::nullopt;
  return FileEntry{std::string(path->as_string()), *number, 0};
}

// The shortest entry the layout has, with the separator after it: an ID of
// one digit and an empty path.
constexpr std::size_t kShortestEntry = 45;

// Reads the layout render_database writes, and nothing else: every byte of
// the text must be where that layout puts it. Any other text (a hand edit,
// damage, a layout of another version) is left to the general reading,
// which decides what it holds; so this reading only ever gives what that
// one would give, without building a document of the whole file first.
//
// Read from a file, the text is held a piece at a time: an entry is read
// only once the window holds its end, so that an entry cut by the end of a
// piece is never taken for damage.
class OwnLayout {
 public:
  explicit OwnLayout(std::string_view text) : text_(text) {}
  OwnLayout(std::uint64_t size, const ReadFileAt& read_at, std::size_t piece)
      : read_at_(&read_at), size_(size), piece_(std::max<std::size_t>(piece, 1)) {}

  // The content, none for another text, or the error of a read that failed.
  Result<std::optional<DatabaseContent>> read() {
    auto content = read_content();
    if (read_error_) return std::unexpected(*read_error_);
    return content;
  }

 private:
  std::optional<DatabaseContent> read_content() {
    DatabaseContent content;
    constexpr std::string_view kHead = "{\n  \"files\": [\n";
    have(kHead.size());
    if (!literal("{\n  \"files\": ")) return std::nullopt;
    if (!literal("[]")) {
      if (!literal("[\n")) return std::nullopt;
      content.files.reserve(entry_count());
      do {
        fill_through("\n    }");
        auto entry = entry_at();
        if (!entry) return std::nullopt;
        content.files.push_back(std::move(*entry));
        have(std::string_view(",\n").size() + std::string_view("\n  ]").size());
      } while (literal(",\n"));
      if (!literal("\n  ]")) return std::nullopt;
    }
    // What follows the entries is short in the layout; whatever it is, the
    // rest of the file decides.
    while (refill()) {
    }
    if (literal(",\n  \"instance\": ")) {
      auto instance = plain_string();
      if (!instance || !is_database_instance(*instance)) return std::nullopt;
      content.instance = std::string(*instance);
    }
    if (!literal(",\n  \"last_sync\": ") || !signed_number() || !literal(",\n  \"next_file_id\": ")) {
      return std::nullopt;
    }
    const auto next = unsigned_number();
    if (!next || !literal("\n}") || at_ != text_.size()) return std::nullopt;
    content.next_file_id = *next;
    // Room the first piece promised that the entries did not take goes.
    if (content.files.capacity() - content.files.size() > content.files.size() / 8) content.files.shrink_to_fit();
    return content;
  }

  // Each entry takes four lines and a string holds no raw line break, so
  // the lines tell how many entries there are at most. A file read in
  // pieces is not counted ahead: the lines of its first piece tell how
  // many the rest will hold about, a sixteenth more to spare, and never
  // more than its size allows.
  std::size_t entry_count() const {
    const auto lines = static_cast<std::size_t>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(at_), text_.end(), '\n'));
    if (read_at_ == nullptr) return lines / 4;
    const double bytes_seen = static_cast<double>(text_.size() - at_) + 1;
    const double estimate = static_cast<double>(lines) / 4 * static_cast<double>(size_) / bytes_seen * 17 / 16;
    return static_cast<std::size_t>(std::min(estimate, static_cast<double>(size_ / kShortestEntry + 1)));
  }

  // Reads pieces until `count` bytes lie ahead or the file ends.
  void have(std::size_t count) {
    while (text_.size() - at_ < count && refill()) {
    }
  }

  // Reads pieces until `end` lies ahead or the file ends.
  void fill_through(std::string_view end) {
    std::size_t from = at_;
    while (text_.find(end, from) == std::string_view::npos) {
      // Where an earlier search ended, less the bytes an end cut by the
      // piece may have had before it.
      const std::size_t searched = text_.size() - at_;
      if (!refill()) return;
      from = at_ + (searched >= end.size() ? searched - end.size() + 1 : 0);
    }
  }

  // The next piece of the file after the bytes not yet read; false at its
  // end or when a read fails.
  bool refill() {
    if (read_at_ == nullptr || offset_ >= size_ || read_error_) return false;
    window_.erase(0, at_);
    at_ = 0;
    const std::size_t kept = window_.size();
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece_, size_ - offset_));
    window_.resize(kept + wanted);
    auto read = (*read_at_)(offset_, std::span<char>(window_.data() + kept, wanted));
    if (!read) {
      read_error_ = read.error();
      return false;
    }
    window_.resize(kept + *read);
    text_ = window_;
    // A file that shrank since it was opened ends where its bytes end.
    if (*read == 0) size_ = offset_;
    offset_ += *read;
    return *read != 0;
  }

  std::optional<FileEntry> entry_at() {
    if (!literal("    {\n      \"id\": ")) return std::nullopt;
    const auto id = unsigned_number();
    if (!id || !literal(",\n      \"path\": ")) return std::nullopt;
    auto path = string();
    if (!path || !literal("\n    }")) return std::nullopt;
    return FileEntry{std::move(*path), *id, 0};
  }

  bool literal(std::string_view expected) {
    if (text_.substr(at_, expected.size()) != expected) return false;
    at_ += expected.size();
    return true;
  }

  // JSON's grammar of an integer: no leading zero, no sign, within 64 bits.
  std::optional<std::uint64_t> unsigned_number() {
    const char* const first = text_.data() + at_;
    const char* const last = text_.data() + text_.size();
    if (first == last || (*first == '0' && first + 1 != last && is_digit(first[1]))) return std::nullopt;
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc()) return std::nullopt;
    at_ += static_cast<std::size_t>(end - first);
    return number;
  }

  bool signed_number() {
    const bool negative = at_ < text_.size() && text_[at_] == '-';
    if (negative) ++at_;
    const auto magnitude = unsigned_number();
    constexpr auto kLargestSigned = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return magnitude && *magnitude <= kLargestSigned + (negative ? 1 : 0);
  }

  // A quoted string without escapes, as an instance is written.
  std::optional<std::string_view> plain_string() {
    if (!literal("\"")) return std::nullopt;
    const std::size_t end = text_.find('"', at_);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view text = text_.substr(at_, end - at_);
    at_ = end + 1;
    return text;
  }

  // A quoted string of valid UTF-8 without raw control characters, its
  // escapes decoded; a surrogate escape that is not half of a pair is left
  // to the general reading.
  std::optional<std::string> string() {
    if (!literal("\"")) return std::nullopt;
    std::string out;
    while (at_ < text_.size()) {
      const auto plain = plain_run();
      if (!plain) return std::nullopt;
      out += *plain;
      at_ += plain->size() + 1;
      if (text_[at_ - 1] == '"') return out;
      if (!escape(out)) return std::nullopt;
    }
    return std::nullopt;
  }

  // The bytes from here to the next quote or backslash, which must be
  // there, when they hold no raw control character and are valid UTF-8.
  // One pass over the bytes; only a run that is not ASCII is checked again.
  std::optional<std::string_view> plain_run() const {
    bool ascii = true;
    for (std::size_t end = at_; end < text_.size(); ++end) {
      const auto c = static_cast<unsigned char>(text_[end]);
      if (c == '"' || c == '\\') {
        const std::string_view run = text_.substr(at_, end - at_);
        if (!ascii && !is_valid_utf8(run)) return std::nullopt;
        return run;
      }
      if (c < 0x20) return std::nullopt;
      ascii = ascii && c < 0x80;
    }
    return std::nullopt;
  }

  bool escape(std::string& out) {
    if (at_ == text_.size()) return false;
    const char c = text_[at_++];
    switch (c) {
      case '"': case '\\': case '/': out += c; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': return code_point(out);
      default: return false;
    }
  }

  bool code_point(std::string& out) {
    auto unit = hex4();
    if (!unit) return false;
    std::uint32_t point = *unit;
    if (point >= 0xDC00 && point <= 0xDFFF) return false;
    if (point >= 0xD800 && point <= 0xDBFF) {
      if (!literal("\\u")) return false;
      const auto low = hex4();
      if (!low || *low < 0xDC00 || *low > 0xDFFF) return false;
      point = 0x10000 + ((point - 0xD800) << 10) + (*low - 0xDC00);
    }
    append_utf8(out, point);
    return true;
  }

  std::optional<std::uint32_t> hex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      std::uint32_t digit = 0;
      if (is_digit(c)) digit = static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
      else return std::nullopt;
      value = value << 4 | digit;
    }
    return value;
  }

  static void append_utf8(std::string& out, std::uint32_t point) {
    const auto byte = [&out](std::uint32_t value) { out += static_cast<char>(value); };
    if (point < 0x80) {
      byte(point);
    } else if (point < 0x800) {
      byte(0xC0 | point >> 6);
      byte(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      byte(0xE0 | point >> 12);
      byte(0x80 | (point >> 6 & 0x3F));
      byte(0x80 | (point & 0x3F));
    } else {
      byte(0xF0 | point >> 18);
      byte(0x80 | (point >> 12 & 0x3F));
      byte(0x80 | (point >> 6 & 0x3F));
      byte(0x80 | (point & 0x3F));
    }
  }

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }

  std::string_view text_;
  std::size_t at_ = 0;
  // When read from a file: the bytes read and not yet passed, where the
  // next piece starts, and how far the file goes.
  const ReadFileAt* read_at_ = nullptr;
  std::uint64_t size_ = 0;
  std::size_t piece_ = 0;
  std::string window_;
  std::uint64_t offset_ = 0;
  std::optional<Error> read_error_;
};

// The bytes of an entry besides its path and ID: the layout's, the quotes
// and the separator after it.
constexpr std::size_t kEntryLength = 44;

std::size_t digits_of(std::uint64_t number) {
  std::size_t digits = 1;
  for (; number >= 10; number /= 10) ++digits;
  return digits;
}

void append_entry(std::string& out, const FileEntry& entry) {
  out += "    {\n      \"id\": ";
  out += std::to_string(entry.id);
  out += ",\n      \"path\": ";
  json::append_quoted(out, entry.path);
  out += "\n    }";
}

}  // namespace

bool is_database_instance(std::string_view text) {
  constexpr std::size_t kMaxLength = 64;
  return !text.empty() && text.size() <= kMaxLength &&
         std::ranges::all_of(text, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string render_database(const std::vector<FileEntry>& files, std::uint64_t next_file_id,
                            std::int64_t last_sync, std::string_view instance) {
  // Reserved at the length the text will have unless paths need escapes,
  // so that the text is not copied as it grows.
  std::size_t length = 128 + instance.size();
  for (const auto& entry : files) length += kEntryLength + digits_of(entry.id) + entry.path.size();
  std::string out;
  out.reserve(length);
  (void)render_database(files, next_file_id, last_sync, instance, [&out](std::string_view piece) -> Status {
    out += piece;
    return {};
  });
  return out;
}

Status render_database(const std::vector<FileEntry>& files, std::uint64_t next_file_id, std::int64_t last_sync,
                       std::string_view instance, const std::function<Status(std::string_view)>& write) {
  constexpr std::size_t kPieceSize = 64 * 1024;
  std::string out;
  out.reserve(2 * kPieceSize);
  out += "{\n  \"files\": ";
  if (files.empty()) {
    out += "[]";
  } else {
    out += "[\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
      append_entry(out, files[i]);
      out += i + 1 < files.size() ? ",\n" : "\n";
      if (out.size() < kPieceSize) continue;
      if (auto written = write(out); !written) return written;
      out.clear();
    }
    out += "  ]";
  }
  if (!instance.empty()) {
    out += ",\n  \"instance\": \"";
    out += instance;
    out += '"';
  }
  out += ",\n  \"last_sync\": ";
  out += std::to_string(last_sync);
  out += ",\n  \"next_file_id\": ";
  out += std::to_string(next_file_id);
  out += "\n}";
  return write(out);
}

LoadedDatabase load_database(std::string_view text) {
  LoadedDatabase loaded;
  if (auto content = OwnLayout(text).read(); content && *content) {
    loaded.content = std::move(**content);
    return loaded;
  }
  loaded.damaged = true;
  auto document = json::parse(text);
  // Memory that ran out says nothing of the text: taken for damage, it
  // would have the file kept aside and every ID given anew.
  if (!document && document.error().out_of_memory) throw std::bad_alloc();
  if (!document) return loaded;
  const json::Value root = document->root();
  if (root.kind() != json::Kind::Object) return loaded;
  DatabaseContent& content = loaded.content;
  if (const auto next = root.find("next_file_id")) {
    if (const auto number = unsigned_integer(*next)) content.next_file_id = *number;
  }
  if (const auto instance = root.find("instance"); instance && instance->kind() == json::Kind::String) {
    if (is_database_instance(instance->as_string())) content.instance = std::string(instance->as_string());
  }
  const auto files = root.find("files");
  if (!files || files->kind() != json::Kind::Array) return loaded;
  loaded.damaged = false;
  for (std::size_t i = 0; i < files->size(); ++i) {
    if (auto entry = entry_from(files->element(i))) content.files.push_back(std::move(*entry));
  }
  return loaded;
}

LoadedDatabase load_database_bytes(std::string_view bytes) {
  LoadedDatabase loaded;
  if (is_valid_utf8(bytes)) {
    loaded = load_database(bytes);
  } else {
    loaded.damaged = true;
  }
  if (loaded.damaged) {
    loaded.content = DatabaseContent{{}, salvage_counter(bytes)};
  } else {
    loaded.content.next_file_id = counter_above(loaded.content.files, loaded.content.next_file_id);
  }
  return loaded;
}

Result<std::optional<LoadedDatabase>> load_own_database_layout(std::uint64_t size, const ReadFileAt& read_at,
                                                               std::size_t piece) {
  auto own = OwnLayout(size, read_at, piece).read();
  if (!own) return std::unexpected(own.error());
  if (!*own) return std::nullopt;
  LoadedDatabase loaded{std::move(**own)};
  loaded.content.next_file_id = counter_above(loaded.content.files, loaded.content.next_file_id);
  return loaded;
}

std::uint64_t counter_above(const std::vector<FileEntry>& files, std::uint64_t next_file_id) {
  std::uint64_t counter = std::max<std::uint64_t>(next_file_id, 1);
  for (const auto& entry : files) counter = std::max(counter, one_above(entry.id));
  return counter;
}

std::uint64_t salvage_counter(std::string_view bytes) {
  std::uint64_t counter = 1;
  for_each_number_after(bytes, "\"id\"", [&](std::uint64_t id) { counter = std::max(counter, one_above(id)); });
  for_each_number_after(bytes, "\"next_file_id\"", [&](std::uint64_t next) { counter = std::max(counter, next); });
  return counter;
}

}  // namespace vexlo
