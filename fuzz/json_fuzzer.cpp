// The JSON layer on arbitrary text. Every accepted document prints in both
// output forms; its pretty and compact texts parse back to an equal
// document that prints the same again; the padded-text parse, the boot
// timestamp reader, fresh and reused, and the streamed check that reads
// large texts agree with the plain parse, and --where with the document.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "testing/json_equal.h"
#include "vexlo/json/json.h"
#include "vexlo/json/streamed_check.h"
#include "vexlo/query/show.h"
#include "vexlo/query/where.h"

namespace {

using vexlo::fuzz::require;
using vexlo::testing::json_equal;
namespace json = vexlo::json;

// The boot timestamp as the document holds it: the top-level member when it
// is an integer in the signed 64-bit range.
std::optional<std::int64_t> boot_timestamp_of(json::Value root) {
  if (root.kind() != json::Kind::Object) return std::nullopt;
  const auto member = root.find("boot_timestamp");
  if (!member) return std::nullopt;
  if (member->kind() == json::Kind::Signed) return member->as_signed();
  if (member->kind() == json::Kind::Unsigned &&
      member->as_unsigned() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return static_cast<std::int64_t>(member->as_unsigned());
  }
  return std::nullopt;
}

std::string text_form(json::Value value) {
  std::ostringstream out;
  vexlo::print_json_text(value, "", out);
  return out.str();
}

// One parser for the whole run, so that reuse of its buffers between
// documents of every size is exercised too.
json::Parser& shared_parser() {
  static json::Parser parser;
  return parser;
}

// --where on the document, on the tape in the order of the text and on the
// text itself gives one answer, for conditions on the paths of the first
// members and of one member below each.
void check_where_forms(json::Value root, json::ParsedText parsed, std::string_view text) {
  if (root.kind() != json::Kind::Object || root.size() == 0) return;
  std::vector<vexlo::WhereCondition> conditions;
  for (std::size_t i = 0; i < root.size() && i < 3; ++i) {
    const std::string name(root.member_name(i));
    conditions.push_back({name, vexlo::WhereCondition::Test::Present, {}});
    conditions.push_back({name, vexlo::WhereCondition::Test::Contains, name.substr(0, 1)});
    const json::Value member = root.member_value(i);
    if (member.kind() == json::Kind::Object && member.size() > 0) {
      conditions.push_back({name + "." + std::string(member.member_name(0)), vexlo::WhereCondition::Test::Present, {}});
    }
  }
  for (std::size_t i = 0; i <= conditions.size(); ++i) {
    // Each condition alone, then all together.
    const auto some = i < conditions.size() ? std::span(conditions).subspan(i, 1) : std::span(conditions);
    const bool on_document = vexlo::matches_all(root, some);
    require(vexlo::matches_all(parsed, some) == on_document, "--where on the tape differs", some[0].key);
    require(vexlo::matches_all_in_text(text, some) == on_document, "--where on the text differs", some[0].key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto document = json::parse(text);
  std::string fresh_copy(text);
  const auto boot_timestamp = json::Parser().read_boot_timestamp(json::PaddedText(fresh_copy));
  require(document.has_value() == boot_timestamp.has_value(), "parse and the boot timestamp reader disagree");

  std::string reused_copy(text);
  const auto reused = shared_parser().read_boot_timestamp(json::PaddedText(reused_copy));
  require(reused.has_value() == document.has_value(), "the reused parser disagrees");
  std::string padded_copy(text);
  const auto padded = json::parse(json::PaddedText(padded_copy));
  require(padded.has_value() == document.has_value(), "the padded-text parse disagrees");
  const auto checked = json::read_boot_timestamp_streamed(text);
  require(checked.has_value() == document.has_value(), "the streamed check disagrees");
  const auto fault = json::describe_json_fault(text);
  require(fault.has_value() != document.has_value(), "the fault description disagrees");
  if (fault) require(fault->find(" at byte ") != std::string::npos, "a fault without its byte", *fault);
  if (!document) return 0;

  const json::Value root = document->root();
  require(json_equal(root, padded->root()), "the parses differ");
  require(*boot_timestamp == boot_timestamp_of(root), "the boot timestamp differs from the document's");
  require(*reused == *boot_timestamp, "the reused parser reads another boot timestamp");
  require(*checked == *boot_timestamp, "the streamed check reads another boot timestamp");

  std::string pretty;
  json::append_pretty(pretty, root);
  std::string unindexed_text(text);
  const auto unindexed = json::parse_for_writing(json::PaddedText(unindexed_text));
  require(unindexed.has_value(), "a text that parses fails to parse for writing", pretty);
  std::ostringstream streamed;
  json::write_pretty(streamed, unindexed->text());
  require(streamed.str() == pretty, "write_pretty and append_pretty differ", pretty);

  const auto reparsed = json::parse(pretty);
  require(reparsed.has_value(), "the pretty text does not parse", pretty);
  require(json_equal(root, reparsed->root()), "the pretty text parses to another document", pretty);
  std::string pretty_again;
  json::append_pretty(pretty_again, reparsed->root());
  require(pretty_again == pretty, "the pretty text is not stable", pretty_again);

  require(text_form(root) == text_form(reparsed->root()), "the text form differs after a round trip");

  // The compact form (show --json): one line without any control
  // character, the same document when read back.
  std::ostringstream compact_streamed;
  json::write_compact(compact_streamed, unindexed->text());
  const std::string compact = compact_streamed.str();
  std::string compact_appended;
  json::append_compact(compact_appended, root);
  require(compact_appended == compact, "write_compact and append_compact differ", compact);
  std::string unindexed_copy(text);
  const auto parsed = shared_parser().parse_for_writing(json::PaddedText(unindexed_copy));
  require(parsed.has_value(), "a text that parses fails to parse for writing", compact);
  std::string compact_unindexed;
  json::append_compact(compact_unindexed, *parsed);
  require(compact_unindexed == compact, "the compact form written without the index differs", compact);
  check_where_forms(root, *parsed, text);
  for (std::size_t i = 0; i < compact.size(); ++i) {
    const auto c = static_cast<unsigned char>(compact[i]);
    const bool c1 = c == 0xC2 && i + 1 < compact.size() && static_cast<unsigned char>(compact[i + 1]) <= 0x9F &&
                    static_cast<unsigned char>(compact[i + 1]) >= 0x80;
    require(c >= 0x20 && c != 0x7F && !c1, "the compact text holds a control character", compact);
  }
  const auto from_compact = json::parse(compact);
  require(from_compact.has_value(), "the compact text does not parse", compact);
  require(json_equal(root, from_compact->root()), "the compact text parses to another document", compact);
  return 0;
}
