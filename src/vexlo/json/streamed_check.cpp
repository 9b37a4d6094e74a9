// The rules are the parser's (see parse.cpp), byte for byte, as it applies
// them and with this module's corrections:
// - space, tab, line feed and carriage return only, around exactly one value;
// - UTF-8 throughout; inside strings no raw control character, and only the
//   escapes \" \\ \/ \b \f \n \r \t \uXXXX, where a high surrogate must be
//   followed at once by an escaped low one and a low one never stands alone;
// - true, false, null and numbers end at white space, a structural
//   character or the end of the text;
// - a float must stay finite once rounded (underflow reads as zero); an
//   integer beyond both 64-bit ranges reads as a double, so it must too;
// - the parser counts as levels only the containers that hold something,
//   and refuses the 127th: 127 levels pass when the innermost is empty.

#include "vexlo/json/streamed_check.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "vexlo/common/utf8.h"

namespace vexlo::json {
namespace {

constexpr std::size_t kMaxOpenContainers = 126;

// Exponents are counted up to this bound: far beyond any that keeps a
// nonzero number finite, and far from overflowing with the digit counts.
constexpr std::int64_t kExponentBound = std::int64_t{1} << 40;

// The largest double lies between 10^308 and 10^309.
constexpr std::int64_t kDecimalDigitsOfLargestDouble = 309;

bool is_white_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether a true, false, null or number may end before `c`.
bool ends_scalar(char c) {
  return is_white_space(c) || c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}';
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether any of the eight bytes in `word` may end a run of plain string
// bytes: a quote, a backslash, a control character or a byte of a
// multi-byte sequence. May say true where a byte-wise look says false.
bool may_end_plain_run(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  const auto has_zero_byte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  const std::uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighs;
  return ((word & kHighs) | has_zero_byte(word ^ (kOnes * '"')) | has_zero_byte(word ^ (kOnes * '\\')) |
          below_space) != 0;
}

bool is_plain_string_byte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
}

// Reads one text from start to end, keeping only the open containers'
// kinds and the boot timestamp found so far.
class StreamedChecker {
 public:
  explicit StreamedChecker(std::string_view text) : begin_(text.data()), at_(begin_), end_(begin_ + text.size()) {}

  bool check() {
    if (!read_values()) return false;
    skip_white_space();
    return at_ == end_ || fail("goes on after its value", at_);
  }

  std::size_t offset() const { return static_cast<std::size_t>(at_ - begin_); }
  // What was wrong, when check gave false, and the byte where it was.
  std::string fault() const {
    const std::string what = fault_ != nullptr ? fault_ : "holds an unexpected character";
    const char* where = fault_ != nullptr ? fault_at_ : at_;
    return what + " at byte " + std::to_string(where - begin_);
  }
  std::optional<std::int64_t> boot_timestamp() const { return boot_timestamp_; }

 private:
  enum class Read { Fault, Whole, Opened };

  // Notes the first fault met; always false.
  bool fail(const char* what, const char* where) {
    if (fault_ == nullptr) {
      fault_ = what;
      fault_at_ = where;
    }
    return false;
  }

  bool ends_inside_container() {
    if (depth_ == 0) return fail("holds no value", at_);
    return fail(is_object_[depth_] ? "ends inside an object" : "ends inside an array", at_);
  }

  // Reads the root value, and with it every value inside.
  bool read_values() {
    for (;;) {
      const Read read = read_value();
      if (read == Read::Fault) return false;
      if (read == Read::Opened) continue;  // its first value comes next
      // After a whole value: close containers until one takes a next value.
      for (;;) {
        if (depth_ == 0) return true;
        skip_white_space();
        if (at_ == end_) return ends_inside_container();
        const char next = *at_++;
        if (next == ',') {
          if (is_object_[depth_] && !read_member_name()) return false;
          break;
        }
        if (next != (is_object_[depth_] ? '}' : ']')) return false;
        --depth_;
      }
    }
  }

  // Reads a scalar or an empty container whole, or opens a container that
  // holds something, up to its first value.
  Read read_value() {
    skip_white_space();
    if (at_ == end_) {
      ends_inside_container();
      return Read::Fault;
    }
    const bool is_boot_timestamp = std::exchange(next_is_boot_timestamp_, false);
    const char c = *at_;
    bool read = false;
    if (c == '[' || c == '{') return open_container(c == '{');
    if (c == '"') {
      ++at_;
      read = skip_string();
    } else if (c == '-' || is_digit(c)) {
      read = read_number(is_boot_timestamp);
    } else {
      read = skip_atom();
    }
    return read ? Read::Whole : Read::Fault;
  }

  Read open_container(bool is_object) {
    ++at_;
    skip_white_space();
    if (at_ != end_ && *at_ == (is_object ? '}' : ']')) {
      ++at_;
      return Read::Whole;
    }
    if (++depth_ > kMaxOpenContainers) {
      fail("nests too deep", at_ - 1);
      return Read::Fault;
    }
    is_object_[depth_] = is_object;
    if (is_object && !read_member_name()) return Read::Fault;
    return Read::Opened;
  }

  // Reads a name and its colon; the member's value comes next.
  bool read_member_name() {
    skip_white_space();
    if (at_ == end_) return ends_inside_container();
    if (*at_ != '"') return false;
    const char* name = ++at_;
    if (!skip_string()) return false;
    if (depth_ == 1 && names_boot_timestamp(std::string_view(name, static_cast<std::size_t>(at_ - 1 - name)))) {
      // The later of repeated names counts, whatever its value.
      boot_timestamp_.reset();
      next_is_boot_timestamp_ = true;
    }
    skip_white_space();
    if (at_ == end_) return ends_inside_container();
    if (*at_ != ':') return false;
    ++at_;
    return true;
  }

  void skip_white_space() {
    while (at_ != end_ && is_white_space(*at_)) ++at_;
  }

  void skip_digits() {
    while (at_ != end_ && is_digit(*at_)) ++at_;
  }

  // From just after the opening quote to just after the closing one.
  bool skip_string() {
    for (;;) {
      while (end_ - at_ >= 8) {
        std::uint64_t word;
        std::memcpy(&word, at_, sizeof word);
        if (may_end_plain_run(word)) break;
        at_ += 8;
      }
      while (at_ != end_ && is_plain_string_byte(*at_)) ++at_;
      if (at_ == end_) return fail("ends inside a string", at_);
      const auto byte = static_cast<unsigned char>(*at_);
      if (byte == '"') {
        ++at_;
        return true;
      }
      if (byte == '\\') {
        if (!skip_escape()) return false;
      } else if (byte < 0x20) {
        return fail("holds a raw control character", at_);
      } else {
        const std::size_t length = utf8_sequence_length(std::string_view(at_, static_cast<std::size_t>(end_ - at_)), 0);
        if (length == 0) return fail("holds bytes that are not UTF-8", at_);
        at_ += length;
      }
    }
  }

  bool skip_escape() {
    const char* escape = at_;
    if (end_ - at_ < 2) return fail("ends inside a string", end_);
    const char kind = at_[1];
    at_ += 2;
    if (std::string_view("\"\\/bfnrt").find(kind) != std::string_view::npos) return true;
    if (kind != 'u') return fail("holds an invalid escape", escape);
    const int unit = read_hex_unit();
    if (unit < 0) return fail("holds an invalid escape", escape);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("holds a lone surrogate", escape);
    if (unit < 0xD800 || unit > 0xDBFF) return true;
    if (end_ - at_ < 2 || at_[0] != '\\' || at_[1] != 'u') return fail("holds a lone surrogate", escape);
    at_ += 2;
    const int low = read_hex_unit();
    return (low >= 0xDC00 && low <= 0xDFFF) || fail("holds a lone surrogate", escape);
  }

  // The four hex digits of a \u escape; -1 when they are not.
  int read_hex_unit() {
    if (end_ - at_ < 4) return -1;
    int unit = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_digit_value(*at_++);
      if (digit < 0) return -1;
      unit = unit * 16 + digit;
    }
    return unit;
  }

  bool skip_atom() {
    const char c = *at_;
    const std::string_view atom = c == 't' ? "true" : c == 'f' ? "false" : c == 'n' ? "null" : "";
    if (atom.empty() || static_cast<std::size_t>(end_ - at_) < atom.size() ||
        std::memcmp(at_, atom.data(), atom.size()) != 0) {
      return false;
    }
    at_ += atom.size();
    return at_ == end_ || ends_scalar(*at_);
  }

  bool read_number(bool is_boot_timestamp) {
    const char* start = at_;
    if (*at_ == '-') ++at_;
    const char* integer = at_;
    skip_digits();
    const std::string_view integer_digits(integer, static_cast<std::size_t>(at_ - integer));
    if (integer_digits.empty() || (integer_digits[0] == '0' && integer_digits.size() > 1)) return false;
    bool is_float = false;
    std::string_view fraction_digits;
    if (at_ != end_ && *at_ == '.') {
      const char* fraction = ++at_;
      skip_digits();
      fraction_digits = std::string_view(fraction, static_cast<std::size_t>(at_ - fraction));
      if (fraction_digits.empty()) return false;
      is_float = true;
    }
    std::int64_t exponent = 0;
    if (at_ != end_ && (*at_ == 'e' || *at_ == 'E')) {
      is_float = true;
      if (!read_exponent(exponent)) return false;
    }
    if (at_ != end_ && !ends_scalar(*at_)) return false;
    const std::string_view literal(start, static_cast<std::size_t>(at_ - start));
    const bool in_range = is_float ? float_is_finite(literal, integer_digits, fraction_digits, exponent)
                                   : read_integer(literal, integer_digits, is_boot_timestamp);
    return in_range || fail("holds a number out of range", start);
  }

  // From the 'e' on; the value is bounded (see kExponentBound).
  bool read_exponent(std::int64_t& exponent) {
    ++at_;
    bool negative = false;
    if (at_ != end_ && (*at_ == '+' || *at_ == '-')) negative = *at_++ == '-';
    const char* digits = at_;
    for (; at_ != end_ && is_digit(*at_); ++at_) {
      exponent = std::min(exponent * 10 + (*at_ - '0'), kExponentBound);
    }
    if (negative) exponent = -exponent;
    return at_ != digits;
  }

  // Decides by the decimal magnitude where it is clear, by rounding the
  // literal where the value lies between 10^308 and 10^309.
  static bool float_is_finite(std::string_view literal, std::string_view integer_digits,
                              std::string_view fraction_digits, std::int64_t exponent) {
    // The value lies in [10^(magnitude - 1), 10^magnitude).
    std::int64_t magnitude = 0;
    if (integer_digits != "0") {
      magnitude = static_cast<std::int64_t>(integer_digits.size());
    } else {
      const std::size_t first = fraction_digits.find_first_not_of('0');
      if (first == std::string_view::npos) return true;  // zero
      magnitude = -static_cast<std::int64_t>(first);
    }
    magnitude += exponent;
    if (magnitude < kDecimalDigitsOfLargestDouble) return true;
    if (magnitude > kDecimalDigitsOfLargestDouble) return false;
    return rounds_to_finite(literal);
  }

  static bool rounds_to_finite(std::string_view literal) {
    double value;
    return std::from_chars(literal.data(), literal.data() + literal.size(), value).ec == std::errc();
  }

  bool read_integer(std::string_view literal, std::string_view digits, bool is_boot_timestamp) {
    const bool negative = literal.front() == '-';
    // Digit strings of one length compare as their values do.
    const std::string_view largest = negative ? "9223372036854775808" : "18446744073709551615";
    const bool fits_64_bits =
        digits.size() < largest.size() || (digits.size() == largest.size() && digits <= largest);
    if (!fits_64_bits) {
      // Read as the nearest double, exactly as number_literals.cpp rewrites it.
      if (digits.size() != static_cast<std::size_t>(kDecimalDigitsOfLargestDouble)) {
        return digits.size() < static_cast<std::size_t>(kDecimalDigitsOfLargestDouble);
      }
      return rounds_to_finite(literal);
    }
    if (is_boot_timestamp && literal != "-0") {
      std::int64_t value;
      const auto result = std::from_chars(literal.data(), literal.data() + literal.size(), value);
      if (result.ec == std::errc()) boot_timestamp_ = value;
    }
    return true;
  }

  // Whether the name, once its escapes are resolved, is "boot_timestamp".
  // It holds no fault: skip_string checked it.
  static bool names_boot_timestamp(std::string_view name) {
    constexpr std::string_view kWanted = "boot_timestamp";
    std::size_t matched = 0;
    for (std::size_t i = 0; i < name.size(); ++matched) {
      char c = name[i++];
      if (c == '\\') {
        const char kind = name[i++];
        if (kind == 'u') {
          // An escape of more than ASCII cannot match.
          const std::string_view hex = name.substr(i, 4);
          i += 4;
          if (hex.substr(0, 2) != "00" || hex_digit_value(hex[2]) > 7) return false;
          c = static_cast<char>(hex_digit_value(hex[2]) * 16 + hex_digit_value(hex[3]));
        } else {
          c = std::string_view("\"\\/\b\f\n\r\t")[std::string_view("\"\\/bfnrt").find(kind)];
        }
      }
      if (matched >= kWanted.size() || c != kWanted[matched]) return false;
    }
    return matched == kWanted.size();
  }

  const char* begin_;
  const char* at_;
  const char* end_;
  std::size_t depth_ = 0;  // open containers, each holding something
  std::array<bool, kMaxOpenContainers + 1> is_object_{};  // per depth, from 1
  bool next_is_boot_timestamp_ = false;
  std::optional<std::int64_t> boot_timestamp_;
  const char* fault_ = nullptr;  // the first fault met, if any
  const char* fault_at_ = nullptr;
};

}  // namespace

std::expected<std::optional<std::int64_t>, ParseError> read_boot_timestamp_streamed(std::string_view text) {
  if (text.size() > kMaxTextSize) return std::unexpected(ParseError{"the text is too long"});
  StreamedChecker checker(text);
  if (!checker.check()) {
    return std::unexpected(ParseError{"not one JSON value (at byte " + std::to_string(checker.offset()) + ")"});
  }
  return checker.boot_timestamp();
}

bool is_one_value_streamed(std::string_view text) {
  return text.size() <= kMaxTextSize && StreamedChecker(text).check();
}

std::optional<std::string> describe_json_fault(std::string_view text) {
  if (text.size() > kMaxTextSize) return "is too long";
  StreamedChecker checker(text);
  if (checker.check()) return std::nullopt;
  return checker.fault();
}

}  // namespace vexlo::json
