// The public JSON parsing suite kept beside the project
// (../shared/conformance/json/test_parsing), each document shown in both
// forms. Documents the suite requires to be accepted print and their pretty
// text parses back to an equal document; documents it requires to be
// rejected give the parsing message, or the opening message where the bytes
// are not UTF-8. For the documents it leaves open, the table below records
// what the tool does. Without the suite the test is skipped.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

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
  EXPECT_TRUE(json::equal(original->root(), reparsed->root())) << path;
}

TEST(ShowConformance, EveryDocumentOfTheParsingSuite) {
  const char* source_dir = std::getenv("VEXLO_SOURCE_DIR");
  const std::filesystem::path root =
      std::filesystem::path(source_dir ? source_dir : "") / "../shared/conformance/json/test_parsing";
  std::error_code error;
  if (source_dir == nullptr || !std::filesystem::is_directory(root, error)) {
    GTEST_SKIP() << "the JSON parsing suite is not beside the project (../shared)";
  }
  std::map<std::string, int> counts;
  std::size_t open_cases_seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
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
  for (const auto& [what, count] : counts) std::cout << "  " << what << ": " << count << "\n";
}

}  // namespace
}  // namespace vexlo
