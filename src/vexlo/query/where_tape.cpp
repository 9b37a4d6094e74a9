// Matching on a document parsed without its index, in the order of its
// text: the parser's tape lets every member on no wanted path be stepped
// over whole, so that a condition on one member costs the parse and little
// more, and no index of the document is built. The document keeps only the
// last of the members an object repeats by name, so, as on the text (see
// where_streamed.cpp), what a member meets counts for its object once the
// object ends, and only from the last member of each name.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vexlo/query/text_form.h"
#include "vexlo/query/where.h"

namespace vexlo {
namespace {

using Met = MetConditions;

class TapeMatcher {
 public:
  TapeMatcher(json::ParsedText document, std::span<const WhereCondition> conditions)
      : document_(document), conditions_(conditions) {}

  Met met() {
    std::string path;
    return value(document_.root(), path);
  }

 private:
  Met value(json::Value at, std::string& path) {
    if (at.kind() == json::Kind::Object) return object(at, path);
    if (at.kind() == json::Kind::Array) {
      Met met = 0;
      for (auto element = document_.first_inside(at); element; element = document_.next(*element)) {
        met |= value(*element, path);
      }
      return met;
    }
    return scalar(at, path);
  }

  Met object(json::Value at, std::string& path) {
    // The last member of each name on the way to a wanted key, with what
    // it met. The names live as long as the document.
    std::vector<std::pair<std::string_view, Met>> members;
    const std::size_t path_size = path.size();
    for (auto name = document_.first_inside(at); name;) {
      const json::Value member = *document_.next(*name);
      append_member_path(path, name->as_string());
      if (wanted(path)) {
        const Met met = value(member, path);
        auto same = std::ranges::find(members, name->as_string(), &std::pair<std::string_view, Met>::first);
        if (same == members.end()) {
          members.emplace_back(name->as_string(), met);
        } else {
          same->second = met;
        }
      }
      path.resize(path_size);
      name = document_.next(member);
    }
    Met met = 0;
    for (const auto& member : members) met |= member.second;
    return met;
  }

  Met scalar(json::Value at, std::string_view path) {
    Met met = 0;
    bool have_text = false;
    for (std::size_t i = 0; i < conditions_.size(); ++i) {
      if (conditions_[i].key != path) continue;
      if (!have_text) {
        text_.clear();
        append_scalar_text(text_, at);
        have_text = true;
      }
      if (passes(conditions_[i], text_)) met |= Met{1} << i;
    }
    return met;
  }

  bool wanted(std::string_view path) const {
    return std::ranges::any_of(conditions_, [&](const WhereCondition& c) { return leads_to(path, c.key); });
  }

  json::ParsedText document_;
  std::span<const WhereCondition> conditions_;
  std::string text_;  // of the scalar being compared
};

}  // namespace

bool matches_all(json::ParsedText document, std::span<const WhereCondition> conditions) {
  if (conditions.empty()) return true;
  return TapeMatcher(document, conditions).met() == all_conditions_met(conditions.size());
}

}  // namespace vexlo
