#pragma once
// What is said about an argument that the grammar drops or takes in a way
// the user probably did not mean: one "Warning: " line each, naming what
// the user may have meant. User text in them is UTF-8 without control
// characters.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexlo {

// An option as messages see it: its name, and whether it takes a value.
struct OptionName {
  std::string_view name;
  bool takes_value;
};

struct CommandOptions {
  std::string_view word;
  std::vector<OptionName> options;
};

// Every option the grammar knows: the global ones, each command's, and the
// words that may stand in the command word's place.
struct OptionCatalogue {
  std::vector<OptionName> global;
  std::vector<CommandOptions> commands;
  std::span<const std::string_view> command_place_words;
};

// An argument inside a message: valid UTF-8 without control characters,
// whatever the user's shell passed on.
std::string visible(std::string_view arg);
std::string quoted(std::string_view arg);

std::string missing_value(std::string_view option);

// What is said about an argument that begins with "--" and that neither
// `command` (whose options are `own`) nor the global options know.
struct IgnoredOption {
  std::string note;
  bool value_may_follow = false;  // the user may have meant the next word as its value
};
IgnoredOption ignored_option(std::string_view arg, std::string_view command, std::span<const OptionName> own,
                             const OptionCatalogue& catalogue);

// Whether option `name`, wherever it is read, takes a value.
bool takes_value_anywhere(std::string_view name, const OptionCatalogue& catalogue);

// Said before "Unknown command: " when a close spelling exists.
std::optional<std::string> unknown_command_hint(std::string_view word, const OptionCatalogue& catalogue);

// Why the word after "logs" gives no count, and what the user may have meant.
std::string not_a_count(std::string_view arg);

}  // namespace vexlo
