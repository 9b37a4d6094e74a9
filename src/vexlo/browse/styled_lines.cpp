#include "vexlo/browse/styled_lines.h"

#include <algorithm>
#include <array>
#include <utility>

#include "vexlo/common/colour.h"

namespace vexlo::browse {
namespace {

constexpr std::array kSequences = {
    std::pair{colour::kKey, Style::Key},     std::pair{colour::kString, Style::String},
    std::pair{colour::kPlain, Style::Plain}, std::pair{colour::kNull, Style::Null},
    std::pair{colour::kBracket, Style::Bracket}, std::pair{colour::kReset, Style::Plain},
};

}  // namespace

StyledLines styled_lines(std::string_view text) {
  StyledLines styled;
  Style now = Style::Plain;
  bool line_open = false;
  for (std::size_t i = 0; i < text.size();) {
    if (!line_open) {
      styled.lines.emplace_back();
      styled.starts.push_back({{0, now}});
      line_open = true;
    }
    if (text[i] == '\n') {
      line_open = false;
      ++i;
      continue;
    }
    const auto sequence = std::ranges::find_if(
        kSequences, [&](const auto& known) { return text.substr(i).starts_with(known.first); });
    if (sequence == kSequences.end()) {
      styled.lines.back() += text[i++];
      continue;
    }
    now = sequence->second;
    i += sequence->first.size();
    auto& starts = styled.starts.back();
    // A start where another one stands replaces it.
    if (starts.back().at == styled.lines.back().size()) starts.pop_back();
    starts.push_back({styled.lines.back().size(), now});
  }
  return styled;
}

}  // namespace vexlo::browse
