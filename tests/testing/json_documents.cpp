#include "testing/json_documents.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <string_view>

namespace vexlo::testing {
namespace {

// Text pieces as they appear inside a JSON string: raw UTF-8 in several
// scripts, combining marks, and escapes of every kind.
constexpr std::array<std::string_view, 16> kTextPieces = {
    "plain words",
    "caf\xC3\xA9 na\xC3\xAFve",                                  // Latin-1 supplement
    "\xCE\xB1\xCE\xB2\xCE\xB3 \xCE\xB4\xCE\xAD\xCE\xBB\xCF\x84\xCE\xB1",  // Greek
    "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",          // Cyrillic
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",                      // CJK
    "\xF0\x9F\x98\x80\xF0\x9F\x9A\x80",                          // outside the BMP
    "e\xCC\x81 a\xCC\x8A",                                       // combining marks
    "\xD8\xA7\xD9\x84\xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A\xD8\xA9",  // right to left
    "\\u00e9t\\u00E9",
    "\\ud83d\\ude00 \\uD834\\uDD1E",                             // surrogate pairs
    "quote \\\" backslash \\\\ slash \\/",
    "tab\\tnew\\nline\\r\\b\\f",
    "control \\u0001\\u001f\\u007f",
    "\\u0000 inside",
    "\xEF\xBF\xBD replacement",
    "\xE2\x80\x94 dash \xE2\x80\xA6",
};

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : random_(seed) {}

  std::uint64_t below(std::uint64_t n) { return random_() % n; }

  void text(std::string& out) {
    out += '"';
    for (std::uint64_t i = 0, n = 1 + below(4); i < n; ++i) {
      if (i != 0) out += ' ';
      out += kTextPieces[below(kTextPieces.size())];
    }
    out += '"';
  }

  void number(std::string& out) {
    switch (below(6)) {
      case 0:
        out += std::to_string(random_());  // up to the unsigned limit
        break;
      case 1:
        out += std::to_string(static_cast<std::int64_t>(random_()));  // signed, either sign
        break;
      case 2:
        out += std::to_string(below(100000));
        break;
      default:
        append_double(out, std::ldexp(static_cast<double>(below(1u << 30)), -static_cast<int>(below(40))) *
                               (below(2) ? -1 : 1));
    }
  }

  // A coordinate pair as map outlines hold them, with all the digits.
  void coordinates(std::string& out) {
    out += '[';
    append_double(out, -180.0 + static_cast<double>(random_() >> 11) * 0x1p-53 * 360.0);
    out += ", ";
    append_double(out, -90.0 + static_cast<double>(random_() >> 11) * 0x1p-53 * 180.0);
    out += ']';
  }

  void record(std::string& out, std::size_t index) {
    out += "{\"id\": " + std::to_string(index) + ", \"name\": ";
    text(out);
    out += ", \"\xC3\xA9tat\": ";
    out += below(3) == 0 ? "null" : below(2) == 0 ? "true" : "false";
    out += ", \"values\": [";
    for (std::uint64_t i = 0, n = below(8); i < n; ++i) {
      if (i != 0) out += ", ";
      number(out);
    }
    out += "], \"outline\": [";
    for (std::uint64_t i = 0, n = below(12); i < n; ++i) {
      if (i != 0) out += ", ";
      coordinates(out);
    }
    out += "], \"nested\": {\"\xE6\x97\xA5\": {\"a\": [";
    text(out);
    out += ", {\"b\": ";
    number(out);
    out += "}]}, \"\\u00e9\": ";
    text(out);
    out += "}}";
  }

  static void append_double(std::string& out, double value) {
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, written.ptr);
    // A whole value prints without a fraction; keep it a float.
    if (std::string_view(buffer, written.ptr).find_first_of(".e") == std::string_view::npos) out += ".0";
  }

  std::mt19937_64& random() { return random_; }

 private:
  std::mt19937_64 random_;
};

std::string to_chars_text(double value, std::chars_format format, int precision) {
  char buffer[128];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
  return std::string(buffer, written.ptr);
}

// A finite double of random bits; one in eight is subnormal.
double random_double(Generator& generator) {
  for (;;) {
    std::uint64_t bits = generator.random()();
    if (generator.below(8) == 0) bits &= 0x800FFFFFFFFFFFFFull;
    const double value = std::bit_cast<double>(bits);
    if (std::isfinite(value)) return value;
  }
}

std::string random_decimal(Generator& generator) {
  std::string literal = generator.below(2) ? "-" : "";
  const std::uint64_t digits = 1 + generator.below(20);
  literal += static_cast<char>('1' + generator.below(9));
  if (digits > 1) literal += '.';
  for (std::uint64_t i = 1; i < digits; ++i) literal += static_cast<char>('0' + generator.below(10));
  literal += 'e' + std::to_string(static_cast<int>(generator.below(601)) - 300);
  return literal;
}

}  // namespace

std::string large_json_document(std::uint64_t seed, std::size_t bytes) {
  Generator generator(seed);
  std::string out = "{\"records\": [\n";
  for (std::size_t index = 0; out.size() < bytes; ++index) {
    if (index != 0) out += ",\n";
    generator.record(out, index);
  }
  out += "\n], \"complete\": true}\n";
  return out;
}

std::vector<std::string> float_literals(std::uint64_t seed, std::size_t count) {
  Generator generator(seed);
  std::vector<std::string> literals;
  literals.reserve(count);
  while (literals.size() < count) {
    switch (generator.below(4)) {
      case 0: {
        std::string shortest;
        Generator::append_double(shortest, random_double(generator));
        literals.push_back(shortest);
        break;
      }
      case 1:
        literals.push_back(to_chars_text(random_double(generator), std::chars_format::scientific, 16));
        break;
      case 2:
        literals.push_back(to_chars_text(random_double(generator), std::chars_format::scientific, 24));
        break;
      default:
        literals.push_back(random_decimal(generator));
    }
  }
  return literals;
}

std::string deeply_nested_json(int depth) {
  if (depth < 1) return "\"flat\"";
  std::string open, close;
  for (int level = 0; level < depth - 1; ++level) {
    if (level % 2 == 0) {
      open += "[" + std::to_string(level) + ", \"\xC3\xBC" + std::to_string(level) + "\", ";
      close.insert(0, ", null]");
    } else {
      open += "{\"k" + std::to_string(level) + "\": 1.5, \"next\": ";
      close.insert(0, ", \"z\": false}");
    }
  }
  return open + "[]" + close;
}

}  // namespace vexlo::testing
