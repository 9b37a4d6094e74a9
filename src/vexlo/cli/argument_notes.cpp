// What is said about dropped arguments is kept apart from the grammar that
// drops them: the grammar decides, these lines explain, and neither grows
// with the other.

#include "vexlo/cli/argument_notes.h"

#include <algorithm>
#include <iterator>

#include "vexlo/cli/close_spelling.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/common/utf8.h"

namespace vexlo {
namespace {

const OptionName* find_name(std::span<const OptionName> options, std::string_view name) {
  const auto found = std::ranges::find(options, name, &OptionName::name);
  return found == options.end() ? nullptr : &*found;
}

// "a, b or c" with `last` " or ".
std::string joined(std::span<const std::string_view> words, std::string_view last) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? last : ", ";
    text += words[i];
  }
  return text;
}

std::vector<std::string_view> plain_names(std::span<const OptionName> options) {
  std::vector<std::string_view> names;
  for (const OptionName& option : options) names.push_back(option.name);
  return names;
}

// "logs takes --since, list does not", or empty when no other command than
// `command` takes option `name`.
std::string others_taking(std::string_view name, std::string_view command, const OptionCatalogue& catalogue) {
  std::vector<std::string_view> others;
  for (const CommandOptions& other : catalogue.commands) {
    if (other.word != command && find_name(other.options, name)) others.push_back(other.word);
  }
  if (others.empty()) return {};
  const std::string_view takes = others.size() == 1 ? " takes " : " take ";
  return joined(others, " and ") + std::string(takes) + std::string(name) + ", " + std::string(command) + " does not";
}

std::vector<OptionName> other_commands_options(std::string_view command, const OptionCatalogue& catalogue) {
  std::vector<OptionName> options;
  for (const CommandOptions& other : catalogue.commands) {
    if (other.word != command) std::ranges::copy(other.options, std::back_inserter(options));
  }
  return options;
}

// The closest spelling of `name` among `options`.
const OptionName* close_option(std::string_view name, std::span<const OptionName> options) {
  const auto close = close_spelling(name, plain_names(options));
  return close ? find_name(options, *close) : nullptr;
}

}  // namespace

bool takes_value_anywhere(std::string_view name, const OptionCatalogue& catalogue) {
  std::vector<OptionName> options = other_commands_options({}, catalogue);
  std::ranges::copy(catalogue.global, std::back_inserter(options));
  return std::ranges::any_of(options, [name](const OptionName& o) { return o.name == name && o.takes_value; });
}

std::string visible(std::string_view arg) {
  std::string text;
  append_visible(text, to_utf8_lossy(arg));
  return text;
}

std::string quoted(std::string_view arg) { return '"' + visible(arg) + '"'; }

std::string missing_value(std::string_view option) {
  return "Warning: " + std::string(option) + " has no value and is ignored";
}

IgnoredOption ignored_option(std::string_view arg, std::string_view command, std::span<const OptionName> own,
                             const OptionCatalogue& catalogue) {
  std::vector<OptionName> known(own.begin(), own.end());
  std::ranges::copy(catalogue.global, std::back_inserter(known));
  const std::string_view name = arg.substr(0, arg.find('='));
  const bool whole = name.size() == arg.size();
  const std::string ignoring = "Warning: ignoring " + quoted(arg);
  if (name == "--version") return {ignoring + " (it counts only before " + std::string(command) + ")"};
  if (const std::string others = others_taking(name, command, catalogue); !others.empty()) {
    return {ignoring + " (" + others + ")", whole && takes_value_anywhere(name, catalogue)};
  }
  if (const OptionName* close = close_option(name, known)) {
    return {ignoring + "; did you mean " + std::string(close->name) + "?", whole && close->takes_value};
  }
  // Named, so that the option found stays alive while it is read.
  const std::vector<OptionName> others_options = other_commands_options(command, catalogue);
  if (const OptionName* close = close_option(name, others_options)) {
    const std::string others = others_taking(close->name, command, catalogue);
    return {ignoring + "; did you mean " + std::string(close->name) + "? (" + others + ")", whole && close->takes_value};
  }
  return {ignoring + " (" + std::string(command) + " takes " + joined(plain_names(own), " or ") + ")"};
}

std::optional<std::string> unknown_command_hint(std::string_view word, const OptionCatalogue& catalogue) {
  if (const auto close = close_spelling(word, catalogue.command_place_words)) {
    return "Warning: " + quoted(word) + " is not a command; did you mean " + std::string(*close) + "?";
  }
  return std::nullopt;
}

std::string not_a_count(std::string_view arg) {
  const std::string note = "Warning: " + quoted(arg) + " is not a count and is ignored";
  const std::string_view unsigned_part = arg.substr(arg.starts_with('+') || arg.starts_with('-') ? 1 : 0);
  const bool digits_first = !unsigned_part.empty() && unsigned_part[0] >= '0' && unsigned_part[0] <= '9';
  if (digits_first && unsigned_part.find_first_not_of("0123456789") == std::string_view::npos) {
    return note + " (it is out of range)";
  }
  if (digits_first) return note + "; for a time bound use --since " + visible(arg);
  if (arg.empty() || arg.starts_with('-') || arg.starts_with('+')) return note + " (a count is a whole number)";
  return note + "; to select by path use --filter " + visible(arg);
}

}  // namespace vexlo
