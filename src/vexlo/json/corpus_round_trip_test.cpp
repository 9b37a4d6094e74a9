// Real-world documents kept beside the project (../shared/corpus/json): the
// pretty text of each parses back to an equal document, and rendering that
// again gives the same text. Without the corpus the test is skipped.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>

#include "testing/temp_dir.h"
#include "vexlo/json/json.h"

namespace vexlo::json {
namespace {

std::vector<std::string> corpus_documents() {
  const char* source_dir = std::getenv("VEXLO_SOURCE_DIR");
  if (source_dir == nullptr) return {};
  const std::filesystem::path root = std::filesystem::path(source_dir) / "../shared/corpus/json";
  std::error_code error;
  std::vector<std::string> documents;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    if (entry.path().extension() == ".json") documents.push_back(entry.path().string());
  }
  std::sort(documents.begin(), documents.end());
  return documents;
}

TEST(CorpusRoundTrip, PrettyTextParsesBackToAnEqualDocument) {
  const auto documents = corpus_documents();
  if (documents.empty()) GTEST_SKIP() << "the JSON corpus is not beside the project (../shared)";
  for (const std::string& path : documents) {
    const std::string text = testing::read_file(path);
    auto original = parse(text);
    ASSERT_TRUE(original) << path << ": " << original.error().description;
    std::string pretty;
    append_pretty(pretty, original->root());
    auto reparsed = parse(pretty);
    ASSERT_TRUE(reparsed) << path << ": " << reparsed.error().description;
    EXPECT_TRUE(equal(original->root(), reparsed->root())) << path;
    std::string again;
    append_pretty(again, reparsed->root());
    EXPECT_EQ(again, pretty) << path;
  }
}

// numbers.json is one flat array of decimal fractions: each must read as
// the correctly rounded double of its literal.
TEST(CorpusRoundTrip, FloatsAreCorrectlyRounded) {
  const auto documents = corpus_documents();
  const auto numbers = std::find_if(documents.begin(), documents.end(),
                                    [](const std::string& path) { return path.ends_with("/numbers.json"); });
  if (numbers == documents.end()) GTEST_SKIP() << "the JSON corpus is not beside the project (../shared)";
  const std::string text = testing::read_file(*numbers);
  auto document = parse(text);
  ASSERT_TRUE(document);
  const Value array = document->root();
  std::size_t index = 0;
  std::size_t at = text.find('[') + 1;
  while (at < text.size()) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    const std::size_t end = text.find_first_of(",]", at);
    if (end == std::string::npos || end == at) break;
    std::string_view literal(text.data() + at, end - at);
    while (!literal.empty() && std::isspace(static_cast<unsigned char>(literal.back()))) literal.remove_suffix(1);
    double expected = 0;
    std::from_chars(literal.data(), literal.data() + literal.size(), expected);
    ASSERT_LT(index, array.size());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(array.element(index).as_float()), std::bit_cast<std::uint64_t>(expected))
        << literal;
    ++index;
    at = end + 1;
  }
  EXPECT_EQ(index, array.size());
  EXPECT_GT(index, 10000u);
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
    EXPECT_EQ(equal(a->root(), b->root()), c.equal) << c.a << " " << c.b;
  }
}

}  // namespace
}  // namespace vexlo::json
