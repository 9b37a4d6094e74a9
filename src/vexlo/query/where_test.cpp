#include "vexlo/query/where.h"

#include <gtest/gtest.h>

#include <span>
#include <string>

namespace vexlo {
namespace {

// Matching on a document parsed without its index, in the order of its text.
bool matches_in_order(std::string json, std::span<const WhereCondition> conditions) {
  json::Parser parser;
  auto parsed = parser.parse_for_writing(json::PaddedText(json));
  return parsed && matches_all(*parsed, conditions);
}

// Each row reads KEY and VALUE off the text form of `json`, as show prints
// it (in the comment), and says whether the condition holds.
TEST(WhereCondition, MatchesTheKeyAndValueLinesOfTheTextForm) {
  // boot_timestamp / 17 / ; kernel / kernel.release / 6.1 / ;
  // list / list.type / cpu / ; list.msg / x / ; list.type / kernel / ;
  // msg / one(newline)two / ; tags / a / ; b / ; n / null / ; f / 1.0 /
  const std::string json =
      R"({"boot_timestamp": 17, "kernel": {"release": "6.1"}, "msg": "one\ntwo", "n": null, "f": 1.0,)"
      R"( "list": [{"type": "cpu"}, {"type": "kernel", "msg": "x"}], "tags": ["a", "b"], "a.b": {"c": true}})";
  const struct {
    std::string condition;
    bool holds;
  } cases[] = {
      {"boot_timestamp=17", true},             // scalar: the number text
      {"boot_timestamp=017", false},
      {"kernel.release=6.1", true},            // nested path
      {"kernel.release~6.", true},
      {"kernel=6.1", false},                   // an object holds no value of its own
      {"release=6.1", false},                  // a path is the whole path
      {"list.type=kernel", true},              // array elements carry no index
      {"list.type=disk", false},
      {"list.msg", true},
      {"tags=b", true},
      {"missing", false},                      // missing path
      {"missing=", false},
      {"kernel.release.x~", false},
      {"msg=one\ntwo", true},                  // a value with a newline: the whole value
      {"msg=one", false},
      {"msg~e\ntw", true},
      {"n=null", true},
      {"f=1.0", true},
      {"a.b.c=true", true},                    // a "." inside a name joins as it is
      {"kernel", false},                       // the path holds no scalar
  };
  auto document = json::parse(json);
  ASSERT_TRUE(document);
  for (const auto& c : cases) {
    const WhereCondition condition = parse_where(c.condition);
    EXPECT_EQ(matches_all(document->root(), {&condition, 1}), c.holds) << c.condition;
    EXPECT_EQ(matches_all_in_text(json, {&condition, 1}), c.holds) << c.condition;
    EXPECT_EQ(matches_in_order(json, {&condition, 1}), c.holds) << c.condition;
  }
  const WhereCondition both[] = {parse_where("list.type=cpu"), parse_where("list.type=kernel")};
  EXPECT_TRUE(matches_all(document->root(), both));
  EXPECT_TRUE(matches_all_in_text(json, both));
  EXPECT_TRUE(matches_in_order(json, both));
  const WhereCondition one_fails[] = {parse_where("list.type=cpu"), parse_where("missing")};
  EXPECT_FALSE(matches_all(document->root(), one_fails));
  EXPECT_FALSE(matches_all_in_text(json, one_fails));
  EXPECT_FALSE(matches_in_order(json, one_fails));
}

// What the text says and the document holds differ: a repeated name keeps
// its last member, numbers and escaped names read as the document reads
// them. Matching on the text sees what the document holds.
TEST(WhereCondition, MatchesOnTheTextWhatTheDocumentHolds) {
  const std::string json =
      R"({"a": {"b": 1, "x": [5]}, "a": {"c": 2}, "d": -0, "e": 1e2, "f": 123456789012345678901234,)"
      R"( "g\u0041": "\u00e9", "h": [{"x": 1, "x": 2}], "": {"k": 3}, "s": "q\"uote"})";
  const struct {
    std::string condition;
    bool holds;
  } cases[] = {
      {"a.b=1", false}, {"a.x", false},     {"a.c=2", true},          {"d=-0.0", true},
      {"e=100.0", true}, {"f~e+23", true},  {R"(gA=\u00e9)", false},    {"gA=\xC3\xA9", true},
      {"h.x=1", false}, {"h.x=2", true},    {"k=3", true},            {"s=q\"uote", true},
  };
  auto document = json::parse(json);
  ASSERT_TRUE(document);
  for (const auto& c : cases) {
    const WhereCondition condition = parse_where(c.condition);
    EXPECT_EQ(matches_all(document->root(), {&condition, 1}), c.holds) << c.condition;
    EXPECT_EQ(matches_all_in_text(json, {&condition, 1}), c.holds) << c.condition;
    EXPECT_EQ(matches_in_order(json, {&condition, 1}), c.holds) << c.condition;
  }
}

}  // namespace
}  // namespace vexlo
