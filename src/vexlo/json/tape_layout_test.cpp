// The document reads simdjson's tape word by word (document_storage.h) and
// rewrites some of its words (parse.cpp): the library's own tape when
// tape_layout.h finds it laid out as expected, one written through the
// public interface otherwise. This test reads the same texts through
// simdjson's own DOM interface and checks that every value agrees, and that
// the tape written through the public interface reads as the library's own
// wherever the library's is used. The texts are the repository's own: the accepted documents of the
// JSON suite in tests/data and the sample log tree.

#include <gtest/gtest.h>
#include <simdjson.h>

#include <bit>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>

#include "testing/source_tree.h"
#include "testing/temp_dir.h"
#include "vexlo/json/json.h"
#include "vexlo/json/tape_layout.h"

namespace vexlo::json {
namespace {

// Why `ours` differs from `reference`, or empty when they agree. Objects
// are compared by their last value per name, which is what the document
// keeps.
std::string difference(Value ours, simdjson::dom::element reference, const std::string& where) {
  using Type = simdjson::dom::element_type;
  switch (reference.type()) {
    case Type::NULL_VALUE:
      return ours.kind() == Kind::Null ? "" : where + ": not null";
    case Type::BOOL:
      return ours.kind() == Kind::Boolean && ours.as_bool() == bool(reference.get_bool()) ? ""
                                                                                         : where + ": boolean";
    case Type::INT64: {
      const std::int64_t value = reference.get_int64();
      if (value < 0) return ours.kind() == Kind::Signed && ours.as_signed() == value ? "" : where + ": signed";
      if (ours.kind() == Kind::Unsigned && ours.as_unsigned() == static_cast<std::uint64_t>(value)) return "";
      // "-0", which the tape holds as the integer 0, is rewritten as -0.0.
      if (value == 0 && ours.kind() == Kind::Float && std::bit_cast<std::uint64_t>(ours.as_float()) ==
                                                          std::bit_cast<std::uint64_t>(-0.0)) {
        return "";
      }
      return where + ": non-negative integer";
    }
    case Type::UINT64:
      return ours.kind() == Kind::Unsigned && ours.as_unsigned() == std::uint64_t(reference.get_uint64())
                 ? ""
                 : where + ": unsigned";
    case Type::DOUBLE:
      return ours.kind() == Kind::Float && std::bit_cast<std::uint64_t>(ours.as_float()) ==
                                               std::bit_cast<std::uint64_t>(double(reference.get_double()))
                 ? ""
                 : where + ": float";
    case Type::STRING:
      return ours.kind() == Kind::String && ours.as_string() == std::string_view(reference.get_string())
                 ? ""
                 : where + ": string";
    case Type::ARRAY: {
      if (ours.kind() != Kind::Array) return where + ": not an array";
      std::size_t index = 0;
      for (const simdjson::dom::element element : reference.get_array()) {
        if (index >= ours.size()) return where + ": too few elements";
        const std::string found = difference(ours.element(index), element, where + "/" + std::to_string(index));
        if (!found.empty()) return found;
        ++index;
      }
      return index == ours.size() ? "" : where + ": too many elements";
    }
    case Type::OBJECT: {
      if (ours.kind() != Kind::Object) return where + ": not an object";
      std::map<std::string_view, simdjson::dom::element> last;
      for (const simdjson::dom::key_value_pair member : reference.get_object()) last[member.key] = member.value;
      if (last.size() != ours.size()) return where + ": member count";
      std::size_t index = 0;
      for (const auto& [name, value] : last) {
        if (ours.member_name(index) != name) return where + ": member order";
        const std::string found = difference(ours.member_value(index), value, where + "/" + std::string(name));
        if (!found.empty()) return found;
        ++index;
      }
      return "";
    }
    default:
      break;
  }
  return where + ": unknown type";
}

std::vector<std::filesystem::path> repository_documents() {
  std::vector<std::filesystem::path> documents;
  const std::filesystem::path source = testing::source_dir();
  for (const auto& entry : std::filesystem::directory_iterator(source / "tests/data/json-suite/test_parsing")) {
    if (entry.path().filename().string().starts_with("y_")) documents.push_back(entry.path());
  }
  for (const auto& entry : std::filesystem::directory_iterator(source / "tests/data/json-suite/test_transform")) {
    documents.push_back(entry.path());
  }
  for (const auto& entry : std::filesystem::recursive_directory_iterator(source / "examples/logroot")) {
    if (entry.is_regular_file()) documents.push_back(entry.path());
  }
  return documents;
}

TEST(TapeLayout, ValuesAgreeWithTheLibrarysOwnReader) {
  const auto documents = repository_documents();
  // 95 accepted suite documents, 22 transform documents, the sample tree.
  ASSERT_GE(documents.size(), 95u + 22u + 8u);
  simdjson::dom::parser reference_parser;
  std::size_t compared = 0;
  for (const auto& path : documents) {
    const std::string text = testing::read_file(path.string());
    simdjson::dom::element reference;
    const simdjson::error_code error = reference_parser.parse(text).get(reference);
    const auto ours = parse(text);
    if (is_huge_integer_error(error)) {
      // An integer beyond both 64-bit ranges: the document holds a float.
      EXPECT_TRUE(ours) << path;
      continue;
    }
    if (error != simdjson::SUCCESS) {
      EXPECT_FALSE(ours) << path << " is refused by the library: " << simdjson::error_message(error);
      continue;
    }
    ASSERT_TRUE(ours) << path << ": " << ours.error().description;
    EXPECT_EQ(difference(ours->root(), reference, ""), "") << path;
    simdjson::dom::document written;
    ASSERT_EQ(write_tape(reference, written), simdjson::SUCCESS) << path;
    if (library_tape_is_known()) {
      EXPECT_TRUE(same_tape(reference_parser.doc, written)) << path;
    }
    ++compared;
  }
  // Of the transform documents, six hold lone surrogates (refused by both)
  // and one an integer below the signed range; all others are compared.
  EXPECT_EQ(compared, documents.size() - 7);
  std::cout << compared << " of " << documents.size() << " documents compared, simdjson "
            << int{simdjson::SIMDJSON_VERSION_MAJOR} << '.' << int{simdjson::SIMDJSON_VERSION_MINOR} << '.'
            << int{simdjson::SIMDJSON_VERSION_REVISION} << "'s tape " << (library_tape_is_known() ? "read in place" : "written anew")
            << '\n';
}

TEST(TapeLayout, AnotherValueReadsAsAnotherTape) {
  simdjson::dom::parser parser;
  ASSERT_EQ(parser.parse(std::string(R"({"a":1})")).error(), simdjson::SUCCESS);
  for (const std::string text : {R"({"b":1})", R"({"a":2})", R"({"a":[]})", "[1]"}) {
    simdjson::dom::parser other;
    simdjson::dom::document written;
    ASSERT_EQ(write_tape(other.parse(text).value_unsafe(), written), simdjson::SUCCESS);
    EXPECT_FALSE(same_tape(parser.doc, written)) << text;
  }
}

}  // namespace
}  // namespace vexlo::json
