// Matching walks the document as the text form prints it, building each
// member's key path with the text form's own rule, and compares the text
// of each scalar as the text form prints it. It enters only the members
// whose path can still lead to a wanted key, so that a condition on one
// member costs the parse and little more.

#include "vexlo/query/where.h"

#include <algorithm>
#include <vector>

#include "vexlo/query/text_form.h"

namespace vexlo {

bool leads_to(std::string_view path, std::string_view key) {
  if (path.empty()) return true;
  if (!key.starts_with(path)) return false;
  return key.size() == path.size() || key[path.size()] == '.';
}

bool passes(const WhereCondition& condition, std::string_view text) {
  switch (condition.test) {
    case WhereCondition::Test::Equals:
      return text == condition.value;
    case WhereCondition::Test::Contains:
      return text.find(condition.value) != std::string_view::npos;
    case WhereCondition::Test::Present:
      return true;
  }
  return false;
}

namespace {

class Matcher {
 public:
  explicit Matcher(std::span<const WhereCondition> conditions)
      : conditions_(conditions), held_(conditions.size(), false), open_(conditions.size()) {}

  bool all_hold(json::Value root) {
    std::string path;
    visit(root, path);
    return open_ == 0;
  }

 private:
  void visit(json::Value value, std::string& path) {
    if (open_ == 0) return;
    if (is_scalar(value)) {
      scalar(value, path);
    } else if (value.kind() == json::Kind::Array) {
      for (std::size_t i = 0; i < value.size() && open_ != 0; ++i) visit(value.element(i), path);
    } else {
      members(value, path);
    }
  }

  void members(json::Value object, std::string& path) {
    const std::size_t path_size = path.size();
    for (std::size_t i = 0; i < object.size() && open_ != 0; ++i) {
      append_member_path(path, object.member_name(i));
      if (wanted_below(path)) visit(object.member_value(i), path);
      path.resize(path_size);
    }
  }

  bool wanted_below(std::string_view path) const {
    for (std::size_t i = 0; i < conditions_.size(); ++i) {
      if (!held_[i] && leads_to(path, conditions_[i].key)) return true;
    }
    return false;
  }

  void scalar(json::Value value, std::string_view path) {
    text_.clear();
    bool have_text = false;
    for (std::size_t i = 0; i < conditions_.size(); ++i) {
      if (held_[i] || conditions_[i].key != path) continue;
      if (!have_text) {
        append_scalar_text(text_, value);
        have_text = true;
      }
      if (passes(conditions_[i], text_)) {
        held_[i] = true;
        --open_;
      }
    }
  }

  std::span<const WhereCondition> conditions_;
  std::vector<bool> held_;
  std::size_t open_;
  std::string text_;  // of the scalar being compared
};

// The walk of read_key_values: every scalar under a wanted path.
class KeyReader {
 public:
  KeyReader(std::span<const std::string> keys,
            const std::function<void(std::size_t, std::string_view)>& take)
      : keys_(keys), take_(take) {}

  void visit(json::Value value, std::string& path) {
    if (is_scalar(value)) {
      scalar(value, path);
    } else if (value.kind() == json::Kind::Array) {
      for (std::size_t i = 0; i < value.size(); ++i) visit(value.element(i), path);
    } else {
      const std::size_t path_size = path.size();
      for (std::size_t i = 0; i < value.size(); ++i) {
        append_member_path(path, value.member_name(i));
        if (std::ranges::any_of(keys_, [&](const std::string& key) { return leads_to(path, key); })) {
          visit(value.member_value(i), path);
        }
        path.resize(path_size);
      }
    }
  }

 private:
  void scalar(json::Value value, std::string_view path) {
    text_.clear();
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] != path) continue;
      if (text_.empty()) append_scalar_text(text_, value);
      take_(i, text_);
    }
  }

  std::span<const std::string> keys_;
  const std::function<void(std::size_t, std::string_view)>& take_;
  std::string text_;  // of the scalar being read
};

}  // namespace

WhereCondition parse_where(std::string_view text) {
  const auto split = text.find_first_of("=~");
  if (split == std::string_view::npos) return {std::string(text), WhereCondition::Test::Present, {}};
  const auto test = text[split] == '=' ? WhereCondition::Test::Equals : WhereCondition::Test::Contains;
  return {std::string(text.substr(0, split)), test, std::string(text.substr(split + 1))};
}

bool matches_all(json::Value root, std::span<const WhereCondition> conditions) {
  if (conditions.empty()) return true;
  return Matcher(conditions).all_hold(root);
}

}  // namespace vexlo

namespace vexlo {

void read_key_values(json::Value root, std::span<const std::string> keys,
                     const std::function<void(std::size_t key, std::string_view text)>& take) {
  if (keys.empty()) return;
  std::string path;
  KeyReader(keys, take).visit(root, path);
}

}  // namespace vexlo
