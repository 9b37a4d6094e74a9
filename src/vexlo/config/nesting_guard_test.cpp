#include "vexlo/config/nesting_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "vexlo/config/config_text.h"

namespace vexlo::config {
namespace {

std::string dotted(size_t parts) {
  std::string key = "a";
  for (size_t i = 1; i < parts; ++i) key += ".a";
  return key;
}

std::string dots(size_t count) { return std::string(count, '.'); }

TEST(FindExcessiveNesting, CountsDotsOutsideStringsAndComments) {
  const size_t limit = kMaxDotsPerLine;
  const struct {
    std::string document;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> at;  // line, column
  } cases[] = {
      {dotted(limit + 1) + " = 1\n", std::nullopt},
      {dotted(limit + 2) + " = 1\n", std::pair{1u, 2u * std::uint32_t(limit) + 2}},
      {"x = 1\n[" + dotted(limit + 2) + "]\n", std::pair{2u, 2u * std::uint32_t(limit) + 3}},
      {"é = 1 \n\"é\".a" + dots(limit) + "\n", std::pair{2u, 5u + std::uint32_t(limit)}},
      // Dots in strings and comments do not nest anything.
      {"s = \"" + dots(5000) + "\"\n", std::nullopt},
      {"s = \"\\\"" + dots(5000) + "\"\n", std::nullopt},
      {"s = '" + dots(5000) + "'\n", std::nullopt},
      {"s = \"\"\"\n" + dots(5000) + "\n\"\"\"\n", std::nullopt},
      {"s = '''a''" + dots(5000) + "'''\n", std::nullopt},
      {"s = \"\"\"\\\"\"\"" + dots(5000) + "\"\"\"\n", std::nullopt},
      {"# " + dots(5000) + "\n", std::nullopt},
      // A string ends where it closes; what follows counts again.
      {"s = \"\"\"a\"\"\"\"\"" + dots(limit + 1) + "\n", std::pair{1u, 14u + std::uint32_t(limit)}},
      {"s = ''" + dots(limit + 1) + "\n", std::pair{1u, 7u + std::uint32_t(limit)}},
      {"s = \"a\n" + dots(limit + 1) + "\n", std::pair{2u, 1u + std::uint32_t(limit)}},
  };
  for (const auto& c : cases) {
    const auto error = find_excessive_nesting(c.document);
    ASSERT_EQ(error.has_value(), c.at.has_value()) << c.document.substr(0, 40);
    if (!error) continue;
    ASSERT_TRUE(error->span);
    EXPECT_EQ(std::pair(error->span->begin_line, error->span->begin_column), *c.at) << c.document.substr(0, 40);
  }
}

// Keys this deep used to overflow the stack inside the parser.
TEST(FindExcessiveNesting, DeepKeysAreReportedInsteadOfCrashing) {
  for (const std::string& document : {dotted(100'000) + " = 1\n", "[" + dotted(100'000) + "]\n",
                                      "[[" + dotted(100'000) + "]]\n", "a = { " + dotted(100'000) + " = 1 }\n"}) {
    const auto parsed = parse_config_text(document);
    ASSERT_FALSE(parsed);
    EXPECT_TRUE(
        parsed.error().ends_with("\nnesting too deep: more than 1000 dots on one line outside strings and "
                                 "comments\n"));
  }
}

}  // namespace
}  // namespace vexlo::config
