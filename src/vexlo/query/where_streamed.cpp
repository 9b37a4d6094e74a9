// Matching on the text itself, for logs too large to hold a document of.
// The document keeps only the last of the members an object repeats by
// name, and matching on the text must see what the document holds: so the
// conditions met inside a member count for its object only once the object
// closes, and only from the last member of each name. An object remembers
// this only for the names on the way to a wanted key, whose number the
// conditions bound; the members of other names cannot meet a condition and
// are skipped unread. Each scalar compared and each escaped name on the way
// is read by the parser itself, so that its text is exactly the document's.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "vexlo/query/text_form.h"
#include "vexlo/query/where.h"

namespace vexlo {
namespace {

using Met = MetConditions;

bool is_white_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool ends_literal(char c) {
  return is_white_space(c) || c == ',' || c == ':' || c == ']' || c == '}';
}

class TextMatcher {
 public:
  TextMatcher(std::string_view text, std::span<const WhereCondition> conditions)
      : at_(text.data()), end_(text.data() + text.size()), conditions_(conditions) {}

  Met met() {
    std::string path;
    return value(path);
  }

 private:
  Met value(std::string& path) {
    skip_white_space();
    if (*at_ == '{') return object(path);
    if (*at_ == '[') return array(path);
    return scalar(path);
  }

  Met array(std::string& path) {
    ++at_;
    Met met = 0;
    skip_white_space();
    if (*at_ == ']') {
      ++at_;
      return met;
    }
    for (;;) {
      met |= value(path);
      skip_white_space();
      if (*at_++ == ']') return met;
    }
  }

  Met object(std::string& path) {
    ++at_;
    skip_white_space();
    if (*at_ == '}') {
      ++at_;
      return 0;
    }
    // The last member of each name on the way to a wanted key, with what
    // it met.
    std::vector<std::pair<std::string, Met>> members;
    const std::size_t path_size = path.size();
    for (;;) {
      skip_white_space();
      std::string name = read_name();
      skip_white_space();
      ++at_;  // the colon
      append_member_path(path, name);
      if (wanted(path)) {
        const Met met = value(path);
        auto same = std::find_if(members.begin(), members.end(), [&](const auto& m) { return m.first == name; });
        if (same == members.end()) {
          members.emplace_back(std::move(name), met);
        } else {
          same->second = met;
        }
      } else {
        skip_value();
      }
      path.resize(path_size);
      skip_white_space();
      if (*at_++ == '}') break;
    }
    Met met = 0;
    for (const auto& member : members) met |= member.second;
    return met;
  }

  Met scalar(std::string_view path) {
    const char* start = at_;
    skip_scalar();
    Met met = 0;
    bool have_text = false;
    for (std::size_t i = 0; i < conditions_.size(); ++i) {
      if (conditions_[i].key != path) continue;
      if (!have_text) {
        text_.clear();
        append_scalar_text(text_, read_literal(std::string_view(start, static_cast<std::size_t>(at_ - start))));
        have_text = true;
      }
      if (passes(conditions_[i], text_)) met |= Met{1} << i;
    }
    return met;
  }

  bool wanted(std::string_view path) const {
    for (const WhereCondition& condition : conditions_) {
      if (leads_to(path, condition.key)) return true;
    }
    return false;
  }

  std::string read_name() {
    const char* start = at_;
    skip_string();
    const std::string_view literal(start, static_cast<std::size_t>(at_ - start));
    if (literal.find('\\') == std::string_view::npos) return std::string(literal.substr(1, literal.size() - 2));
    return std::string(read_literal(literal).as_string());
  }

  // The value of one scalar literal, as the parser reads it.
  json::Value read_literal(std::string_view literal) {
    literal_.assign(literal);
    // The text is one valid value, and so is each of its literals: only
    // memory can fail, and is reported as it is everywhere.
    auto value = parser_.parse_in_place(json::PaddedText(literal_));
    if (!value) throw std::bad_alloc();
    return *value;
  }

  void skip_white_space() {
    while (at_ != end_ && is_white_space(*at_)) ++at_;
  }

  void skip_scalar() {
    if (*at_ == '"') return skip_string();
    while (at_ != end_ && !ends_literal(*at_)) ++at_;
  }

  // From the opening quote to just after the closing one: the first quote
  // after an even run of backslashes (the opening quote ends any run).
  void skip_string() {
    const char* quote = at_;
    for (;;) {
      ++quote;
      quote = static_cast<const char*>(std::memchr(quote, '"', static_cast<std::size_t>(end_ - quote)));
      const char* backslash = quote;
      while (backslash[-1] == '\\') --backslash;
      if ((quote - backslash) % 2 == 0) break;
    }
    at_ = quote + 1;
  }

  // One value whole, strings skipped as such, containers by their depth.
  void skip_value() {
    skip_white_space();
    if (*at_ != '[' && *at_ != '{') return skip_scalar();
    std::size_t depth = 0;
    do {
      const char c = *at_;
      if (c == '"') {
        skip_string();
        continue;
      }
      if (c == '[' || c == '{') ++depth;
      if (c == ']' || c == '}') --depth;
      ++at_;
    } while (depth != 0);
  }

  const char* at_;
  const char* end_;
  std::span<const WhereCondition> conditions_;
  std::string text_;     // of the scalar being compared
  std::string literal_;  // the literal being read, padded for the parser
  json::Parser parser_;
};

}  // namespace

bool matches_all_in_text(std::string_view text, std::span<const WhereCondition> conditions) {
  if (conditions.empty()) return true;
  return TextMatcher(text, conditions).met() == all_conditions_met(conditions.size());
}

}  // namespace vexlo
