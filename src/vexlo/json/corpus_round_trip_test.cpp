// Round trips of large documents: the pretty text of each parses back to an
// equal document, and rendering that again gives the same text. The
// documents are written at test time (testing/json_documents.h); a corpus of
// real-world documents is read too when there is one: the folder named by
// VEXLO_JSON_CORPUS.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>

#include "testing/json_documents.h"
#include "testing/json_equal.h"
#include "testing/source_tree.h"
#include "testing/temp_dir.h"
#include "vexlo/json/json.h"

namespace vexlo::json {
namespace {

void expect_round_trip(const std::string& name, const std::string& text) {
  auto original = parse(text);
  ASSERT_TRUE(original) << name << ": " << original.error().description;
  std::string pretty;
  append_pretty(pretty, original->root());
  auto reparsed = parse(pretty);
  ASSERT_TRUE(reparsed) << name << ": " << reparsed.error().description;
  EXPECT_TRUE(testing::json_equal(original->root(), reparsed->root())) << name;
  std::string again;
  append_pretty(again, reparsed->root());
  EXPECT_EQ(again, pretty) << name;
}

// Each element of `array` is the correctly rounded double of the literal
// written for it in `text`, a flat array of numbers.
void expect_correctly_rounded(const std::string& text, Value array) {
  std::size_t index = 0;
  std::size_t at = text.find('[') + 1;
  while (at < text.size()) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    const std::size_t end = text.find_first_of(",]", at);
    if (end == std::string::npos || end == at) break;
    std::string_view literal(text.data() + at, end - at);
    while (!literal.empty() && std::isspace(static_cast<unsigned char>(literal.back()))) literal.remove_suffix(1);
    double expected = 0;
    const auto converted = std::from_chars(literal.data(), literal.data() + literal.size(), expected);
    ASSERT_EQ(converted.ec, std::errc()) << literal;
    ASSERT_LT(index, array.size());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(array.element(index).as_float()), std::bit_cast<std::uint64_t>(expected))
        << literal;
    ++index;
    at = end + 1;
  }
  EXPECT_EQ(index, array.size());
}

TEST(GeneratedDocuments, PrettyTextParsesBackToAnEqualDocument) {
  std::string floats = "[";
  for (const std::string& literal : testing::float_literals(7, 20000)) floats += literal + ",\n";
  floats.resize(floats.size() - 2);
  floats += "]";
  const struct {
    const char* name;
    std::string text;
  } documents[] = {
      {"large document", testing::large_json_document(1, 4 << 20)},
      {"other large document", testing::large_json_document(2, 1 << 20)},
      {"floats", floats},
      {"deepest nesting", testing::deeply_nested_json(127)},
  };
  for (const auto& document : documents) expect_round_trip(document.name, document.text);
}

TEST(GeneratedDocuments, FloatsAreCorrectlyRounded) {
  for (const std::uint64_t seed : {3, 4, 5}) {
    std::string text = "[";
    for (const std::string& literal : testing::float_literals(seed, 20000)) text += literal + ", ";
    text.resize(text.size() - 2);
    text += "]";
    auto document = parse(text);
    ASSERT_TRUE(document) << document.error().description;
    ASSERT_EQ(document->root().size(), 20000u);
    expect_correctly_rounded(text, document->root());
  }
}

TEST(GeneratedDocuments, NestingBeyondTheLimitIsRefused) {
  EXPECT_TRUE(parse(testing::deeply_nested_json(127)));
  EXPECT_FALSE(parse(testing::deeply_nested_json(128)));
}

std::vector<std::string> corpus_documents() {
  std::vector<std::string> documents;
  const char* named = std::getenv("VEXLO_JSON_CORPUS");
  if (named == nullptr || *named == '\0') return documents;
  const std::filesystem::path root(named);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    if (entry.path().extension() == ".json") documents.push_back(entry.path().string());
  }
  std::sort(documents.begin(), documents.end());
  return documents;
}

constexpr const char* kNoCorpus =
    "no corpus of real-world JSON documents (set VEXLO_JSON_CORPUS to a folder of them)";

TEST(CorpusRoundTrip, PrettyTextParsesBackToAnEqualDocument) {
  const auto documents = corpus_documents();
  if (documents.empty()) GTEST_SKIP() << kNoCorpus;
  for (const std::string& path : documents) expect_round_trip(path, testing::read_file(path));
}

// numbers.json of the corpus is one flat array of decimal fractions: each
// must read as the correctly rounded double of its literal.
TEST(CorpusRoundTrip, FloatsAreCorrectlyRounded) {
  const auto documents = corpus_documents();
  const auto numbers = std::find_if(documents.begin(), documents.end(),
                                    [](const std::string& path) { return path.ends_with("/numbers.json"); });
  if (numbers == documents.end()) GTEST_SKIP() << kNoCorpus;
  const std::string text = testing::read_file(*numbers);
  auto document = parse(text);
  ASSERT_TRUE(document);
  expect_correctly_rounded(text, document->root());
  EXPECT_GT(document->root().size(), 10000u);
}

TEST(Equal, ComparesKindsValuesAndMembers) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {R"({"a": [1, "x", null]})", R"({ "a" : [ 1 , "x" , null ] })", true},
      {R"({"b": 1, "a": 2})", R"({"a": 2, "b": 1})", true},
      {R"({"a": 1, "a": 2})", R"({"a": 2})", true},
      {"1", "1.0", false},
      {"-1", "-1.0", false},
      {"0.0", "-0.0", false},
      {"-0", "-0.0", true},
      {"1e2", "100.0", true},
      {R"("a")", R"("b")", false},
      {"[1, 2]", "[2, 1]", false},
      {"[1]", "[1, 1]", false},
      {R"({"a": 1})", R"({"b": 1})", false},
      {"{}", "[]", false},
      {"true", "false", false},
  };
  for (const auto& c : cases) {
    auto a = parse(c.a);
    auto b = parse(c.b);
    ASSERT_TRUE(a && b) << c.a << " " << c.b;
    EXPECT_EQ(testing::json_equal(a->root(), b->root()), c.equal) << c.a << " " << c.b;
  }
}

}  // namespace
}  // namespace vexlo::json
