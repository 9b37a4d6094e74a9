#include "vexlo/json/number_literals.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace vexlo::json {
namespace {

bool is_number_start(char c) { return c == '-' || (c >= '0' && c <= '9'); }

bool is_number_char(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// Calls visit(literal, begin) for each number literal outside strings, in
// text order. In valid JSON every '-' or digit outside a string starts a
// number, and the number runs to the next character that cannot belong to
// one.
template <class Visit>
void for_each_number_literal(std::string_view text, Visit visit) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (c == '"') {
      ++i;
      while (i < n && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
      ++i;
    } else if (is_number_start(c)) {
      std::size_t end = i + 1;
      while (end < n && is_number_char(text[end])) ++end;
      visit(text.substr(i, end - i), i);
      i = end;
    } else {
      ++i;
    }
  }
}

// A JSON integer: an optional minus, then 0 or digits without a leading 0.
bool is_integer_literal(std::string_view literal) {
  if (literal.starts_with('-')) literal.remove_prefix(1);
  if (literal.empty() || (literal.front() == '0' && literal.size() > 1)) return false;
  return literal.find_first_not_of("0123456789") == std::string_view::npos;
}

bool fits_64_bits(std::string_view literal) {
  const char* first = literal.data();
  const char* last = first + literal.size();
  if (literal.front() == '-') {
    std::int64_t value;
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() && result.ptr == last;
  }
  std::uint64_t value;
  const auto result = std::from_chars(first, last, value);
  return result.ec == std::errc() && result.ptr == last;
}

}  // namespace

bool may_hold_negative_zero(std::string_view text) {
  for (std::size_t at = text.find("-0"); at != std::string_view::npos; at = text.find("-0", at + 1)) {
    const std::size_t after = at + 2;
    if (after == text.size() || !is_number_char(text[after])) return true;
  }
  return false;
}

std::vector<std::size_t> negative_zero_ordinals(std::string_view text) {
  std::vector<std::size_t> ordinals;
  std::size_t ordinal = 0;
  for_each_number_literal(text, [&](std::string_view literal, std::size_t) {
    if (literal == "-0") ordinals.push_back(ordinal);
    ++ordinal;
  });
  return ordinals;
}

std::expected<std::string, RewriteFailure> rewrite_huge_integers(std::string_view text) {
  std::string out;
  std::size_t copied = 0;
  bool rewrote = false;
  bool overflow = false;
  for_each_number_literal(text, [&](std::string_view literal, std::size_t begin) {
    if (overflow || !is_integer_literal(literal) || fits_64_bits(literal)) return;
    double value;
    const auto parsed = std::from_chars(literal.data(), literal.data() + literal.size(), value);
    if (parsed.ec != std::errc() || parsed.ptr != literal.data() + literal.size()) {
      // Out of range (or not a number at all, which the parser reports).
      overflow = parsed.ec == std::errc::result_out_of_range;
      return;
    }
    if (out.empty()) out.reserve(text.size() + 64);
    out.append(text, copied, begin - copied);
    char digits[32];
    // The scientific form keeps the text from reading as an integer again.
    const auto written =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific);
    out.append(digits, written.ptr);
    copied = begin + literal.size();
    rewrote = true;
  });
  if (overflow) return std::unexpected(RewriteFailure::Overflow);
  if (!rewrote) return std::unexpected(RewriteFailure::NothingToRewrite);
  out.append(text, copied);
  return out;
}

}  // namespace vexlo::json
