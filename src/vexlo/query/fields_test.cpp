#include "vexlo/query/fields.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vexlo {
namespace {

// Each key reads as --where reads it; a value is every scalar under the
// key, joined by commas in the document's order.
TEST(Fields, ReadAsWhereReadsThemAndShowAsColumns) {
  auto document = json::parse(
      R"({"reason": "panic", "kernel": {"release": "6.1"}, "n": null, "list": [{"type": "cpu"}, {"type": "disk"}],)"
      R"( "tags": ["a", 2, true], "esc": "a\u001bb"})");
  ASSERT_TRUE(document);
  const std::string keys[] = {"reason", "kernel.release", "n", "list.type", "tags", "kernel", "missing", "esc",
                              "reason"};
  const FieldValues values = read_fields(document->root(), keys);
  const FieldValues expected = {"panic", "6.1", "null", "cpu,disk", "a,2,true", std::nullopt, std::nullopt,
                                "a\x1b" "b", "panic"};
  EXPECT_EQ(values, expected);

  EXPECT_EQ(field_cell(values[7], true), "a\\x1bb");
  EXPECT_EQ(field_cell(values[7], false), values[7]);
  EXPECT_EQ(field_cell(std::nullopt, false), "-");

  std::string line;
  append_fields_member(line, std::span(keys).first(2), {"x\"", std::nullopt}, json::Escapes::Controls);
  EXPECT_EQ(line, R"(,"fields":{"reason":"x\"","kernel.release":null})");
}

TEST(Fields, TableIsAlignedOnATerminalAndTabSeparatedInAPipe) {
  for (const bool aligned : {true, false}) {
    std::ostringstream out;
    FieldTable table(aligned);
    table.add("[ID:1] a", {"ä", "x"}, out);
    table.add("[ID:12] bb", {"-", "yy"}, out);
    table.finish(out);
    EXPECT_EQ(out.str(), aligned ? "[ID:1] a    ä  x\n[ID:12] bb  -  yy\n" : "[ID:1] a\tä\tx\n[ID:12] bb\t-\tyy\n");
  }
}

}  // namespace
}  // namespace vexlo
