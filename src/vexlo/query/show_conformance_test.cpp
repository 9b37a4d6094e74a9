// The public JSON parsing suite (tests/data/json-suite/test_parsing), each
// document shown in both
// forms. Documents the suite requires to be accepted print and their pretty
// text parses back to an equal document; documents it requires to be
// rejected give the parsing message, or the opening message where the bytes
// are not UTF-8. For the documents it leaves open, the table below records
// what the tool does. Without the suite the test fails.

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "testing/json_equal.h"
#include "testing/source_tree.h"
#include "testing/temp_dir.h"
#include "vexlo/query/show.h"

namespace vexlo {
namespace {

enum class Outcome { Shown, ParseError, OpenError };

const char* name_of(Outcome outcome) {
  switch (outcome) {
    case Outcome::Shown:
      return "shown";
    case Outcome::ParseError:
      return "parse error";
    case Outcome::OpenError:
      return "opening error";
  }
  return "";
}

// What the tool does with the documents whose handling is left open.
const std::map<std::string, Outcome> kOpenCases = {
    // Numbers: beyond the integer ranges they are floats; beyond the float
    // range they are failures; below it they read as zero.
    {"i_number_double_huge_neg_exp.json", Outcome::Shown},
    {"i_number_huge_exp.json", Outcome::ParseError},
    {"i_number_neg_int_huge_exp.json", Outcome::ParseError},
    {"i_number_pos_double_huge_exp.json", Outcome::ParseError},
    {"i_number_real_neg_overflow.json", Outcome::ParseError},
    {"i_number_real_pos_overflow.json", Outcome::ParseError},
    {"i_number_real_underflow.json", Outcome::Shown},
    {"i_number_too_big_neg_int.json", Outcome::Shown},
    {"i_number_too_big_pos_int.json", Outcome::Shown},
    {"i_number_very_big_negative_int.json", Outcome::Shown},
    // Escaped surrogates must pair up.
    {"i_object_key_lone_2nd_surrogate.json", Outcome::ParseError},
    {"i_string_1st_surrogate_but_2nd_missing.json", Outcome::ParseError},
    {"i_string_1st_valid_surrogate_2nd_invalid.json", Outcome::ParseError},
    {"i_string_incomplete_surrogate_and_escape_valid.json", Outcome::ParseError},
    {"i_string_incomplete_surrogate_pair.json", Outcome::ParseError},
    {"i_string_incomplete_surrogates_escape_valid.json", Outcome::ParseError},
    {"i_string_invalid_lonely_surrogate.json", Outcome::ParseError},
    {"i_string_invalid_surrogate.json", Outcome::ParseError},
    {"i_string_inverted_surrogates_U+1D11E.json", Outcome::ParseError},
    {"i_string_lone_second_surrogate.json", Outcome::ParseError},
    // Bytes that are not UTF-8 are refused when the file is read.
    {"i_string_UTF-16LE_with_BOM.json", Outcome::OpenError},
    {"i_string_UTF-8_invalid_sequence.json", Outcome::OpenError},
    {"i_string_UTF8_surrogate_U+D800.json", Outcome::OpenError},
    {"i_string_invalid_utf-8.json", Outcome::OpenError},
    {"i_string_iso_latin_1.json", Outcome::OpenError},
    {"i_string_lone_utf8_continuation_byte.json", Outcome::OpenError},
    {"i_string_not_in_unicode_range.json", Outcome::OpenError},
    {"i_string_overlong_sequence_2_bytes.json", Outcome::OpenError},
    {"i_string_overlong_sequence_6_bytes.json", Outcome::OpenError},
    {"i_string_overlong_sequence_6_bytes_null.json", Outcome::OpenError},
    {"i_string_truncated-utf-8.json", Outcome::OpenError},
    {"i_string_utf16BE_no_BOM.json", Outcome::OpenError},
    {"i_string_utf16LE_no_BOM.json", Outcome::OpenError},
    // Deeper than 127 levels, and a byte-order mark.
    {"i_structure_500_nested_arrays.json", Outcome::ParseError},
    {"i_structure_UTF-8_BOM_empty_object.json", Outcome::ParseError},
};

struct Shown {
  Outcome outcome;
  std::string out;
  std::string err;
};

Shown show(const std::string& path, bool pretty) {
  std::ostringstream out, err;
  show_file(path, pretty ? ShowFormat::Pretty : ShowFormat::Text, out, err);
  Shown shown{Outcome::Shown, out.str(), err.str()};
  if (shown.err == "Error parsing JSON in file " + path + "\n") {
    shown.outcome = Outcome::ParseError;
  } else if (shown.err.starts_with("Error opening file " + path + ": ")) {
    shown.outcome = Outcome::OpenError;
  } else {
    EXPECT_EQ(shown.err, "") << path;
  }
  if (shown.outcome != Outcome::Shown) {
    EXPECT_EQ(shown.out, "") << path;
  }
  return shown;
}

// The pretty output without its final newline parses back to the document.
void expect_round_trip(const std::string& path, const std::string& pretty) {
  ASSERT_TRUE(pretty.ends_with("\n")) << path;
  auto original = json::parse(testing::read_file(path));
  auto reparsed = json::parse(std::string_view(pretty).substr(0, pretty.size() - 1));
  ASSERT_TRUE(original && reparsed) << path;
  EXPECT_TRUE(testing::json_equal(original->root(), reparsed->root())) << path;
}

TEST(ShowConformance, EveryDocumentOfTheParsingSuite) {
  const std::filesystem::path root = testing::test_data_path("json-suite/test_parsing");
  std::error_code error;
  ASSERT_TRUE(std::filesystem::is_directory(root, error)) << "the JSON parsing suite is missing: " << root;
  std::map<std::string, int> counts;
  std::map<std::string, int> documents_by_prefix;
  std::size_t open_cases_seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    ++documents_by_prefix[name.substr(0, 2)];
    const std::string path = entry.path().string();
    const Shown text = show(path, false);
    const Shown pretty = show(path, true);
    EXPECT_EQ(text.outcome, pretty.outcome) << name;
    ++counts[name.substr(0, 2) + name_of(text.outcome)];
    if (name.starts_with("y_")) {
      EXPECT_EQ(text.outcome, Outcome::Shown) << name << ": " << text.err;
      if (pretty.outcome == Outcome::Shown) {
        expect_round_trip(path, pretty.out);
      }
    } else if (name.starts_with("n_")) {
      EXPECT_NE(text.outcome, Outcome::Shown) << name;
      if (text.outcome == Outcome::OpenError) {
        EXPECT_TRUE(text.err.ends_with(": stream did not contain valid UTF-8\n")) << name;
      }
    } else if (name.starts_with("i_")) {
      const auto expected = kOpenCases.find(name);
      ASSERT_NE(expected, kOpenCases.end()) << name << " is not in the table; it gives "
                                            << name_of(text.outcome);
      ++open_cases_seen;
      EXPECT_EQ(text.outcome, expected->second)
          << name << " gives " << name_of(text.outcome) << ", the table says " << name_of(expected->second);
    }
  }
  EXPECT_EQ(open_cases_seen, kOpenCases.size());
  // The counts of the suite as copied; a change in them means the copy
  // changed, not the tool.
  EXPECT_EQ(documents_by_prefix, (std::map<std::string, int>{{"i_", 35}, {"n_", 188}, {"y_", 95}}));
  for (const auto& [what, count] : counts) std::cout << "  " << what << ": " << count << "\n";
}

// The suite's documents whose value differs between parsers, each with the
// pretty text the tool prints or the failure it reports.
TEST(ShowConformance, EveryDocumentOfTheTransformSuite) {
  const struct {
    const char* name;
    Outcome outcome;
    const char* pretty;
  } cases[] = {
      // Integers keep every digit within the 64-bit ranges; beyond them
      // they are floats.
      {"number_-9223372036854775808.json", Outcome::Shown, "[\n  -9223372036854775808\n]\n"},
      {"number_-9223372036854775809.json", Outcome::Shown, "[\n  -9.223372036854776e+18\n]\n"},
      {"number_9223372036854775807.json", Outcome::Shown, "[\n  9223372036854775807\n]\n"},
      {"number_9223372036854775808.json", Outcome::Shown, "[\n  9223372036854775808\n]\n"},
      {"number_10000000000000000999.json", Outcome::Shown, "[\n  10000000000000000999\n]\n"},
      {"number_1000000000000000.json", Outcome::Shown, "[\n  1000000000000000\n]\n"},
      {"number_1.0.json", Outcome::Shown, "[\n  1.0\n]\n"},
      {"number_1.000000000000000005.json", Outcome::Shown, "[\n  1.0\n]\n"},
      {"number_1e6.json", Outcome::Shown, "[\n  1000000.0\n]\n"},
      {"number_1e-999.json", Outcome::Shown, "[\n  0.0\n]\n"},
      // A repeated name keeps the later value; names sort by their bytes,
      // so the decomposed form (e, then the combining accent) comes first.
      {"object_same_key_different_values.json", Outcome::Shown, "{\n  \"a\": 2\n}\n"},
      {"object_same_key_same_value.json", Outcome::Shown, "{\n  \"a\": 1\n}\n"},
      {"object_same_key_unclear_values.json", Outcome::Shown, "{\n  \"a\": -0.0\n}\n"},
      {"object_key_nfc_nfd.json", Outcome::Shown,
       "{\n  \"e\xCC\x81\": \"NFD\",\n  \"\xC3\xA9\": \"NFC\"\n}\n"},
      {"object_key_nfd_nfc.json", Outcome::Shown,
       "{\n  \"e\xCC\x81\": \"NFD\",\n  \"\xC3\xA9\": \"NFC\"\n}\n"},
      {"string_with_escaped_NULL.json", Outcome::Shown, "[\n  \"A\\u0000B\"\n]\n"},
      // Lone surrogates: escaped ones do not parse, raw ones are no UTF-8.
      {"string_1_escaped_invalid_codepoint.json", Outcome::ParseError, ""},
      {"string_2_escaped_invalid_codepoints.json", Outcome::ParseError, ""},
      {"string_3_escaped_invalid_codepoints.json", Outcome::ParseError, ""},
      {"string_1_invalid_codepoint.json", Outcome::OpenError, ""},
      {"string_2_invalid_codepoints.json", Outcome::OpenError, ""},
      {"string_3_invalid_codepoints.json", Outcome::OpenError, ""},
  };
  const std::filesystem::path root = testing::test_data_path("json-suite/test_transform");
  std::error_code error;
  ASSERT_TRUE(std::filesystem::is_directory(root, error)) << "the JSON transform suite is missing: " << root;
  std::size_t documents = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root)) documents += entry.is_regular_file();
  EXPECT_EQ(documents, std::size(cases));
  for (const auto& c : cases) {
    const Shown pretty = show((root / c.name).string(), true);
    EXPECT_EQ(pretty.outcome, c.outcome) << c.name << " gives " << name_of(pretty.outcome);
    EXPECT_EQ(pretty.out, c.pretty) << c.name;
  }
}

}  // namespace
}  // namespace vexlo
