// Command-line parsing on argument lists taken from the input: arguments are
// separated by NUL bytes, as the kernel lays them out. Parsing must never
// fail, must give the same command twice, may write only the one message for
// an unknown command word, must count the command line as misused exactly
// when it said something about it, must leave path filters as UTF-8 text,
// and must take a global option or flag given after the command word, its
// value attached with "=" or not.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "vexlo/cli/command.h"
#include "vexlo/cli/usage.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/common/utf8.h"

namespace {

using vexlo::fuzz::require;

std::vector<std::string_view> split_arguments(std::string_view bytes) {
  std::vector<std::string_view> args;
  if (bytes.empty()) return args;
  for (;;) {
    const auto nul = bytes.find('\0');
    args.push_back(bytes.substr(0, nul));
    if (nul == std::string_view::npos) return args;
    bytes.remove_prefix(nul + 1);
  }
}

void check_filter(const std::optional<std::string>& filter) {
  if (filter) require(vexlo::is_valid_utf8(*filter), "a path filter is not UTF-8", *filter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> args = split_arguments({reinterpret_cast<const char*>(data), size});

  std::ostringstream err;
  const vexlo::Command command = vexlo::parse_command_line(args, err);
  const std::string message = err.str();
  require(message.empty() || message.ends_with("\n"), "a message without its newline", message);
  require(vexlo::is_valid_utf8(message), "message is not UTF-8", message);
  std::istringstream lines(message);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("Unknown command: ")) {
      require(std::holds_alternative<vexlo::HelpCommand>(command.kind), "an unknown command that is not help");
      // It is the last message, and it shows the word's own bytes: a
      // newline in the word would begin another line here.
      break;
    } else {
      require(line.starts_with("Warning: "), "unexpected message", line);
      require(std::ranges::none_of(line, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
              "a control character in a warning", line);
      // Warnings go to a terminal as they are: nothing may reorder or hide text.
      for (std::size_t at = 0; at < line.size(); ++at) {
        require(!vexlo::hidden_character_at(line, at), "a hidden character in a warning", line);
      }
    }
  }

  require(command.misused == !message.empty(), "misused does not match what was said", message);

  std::ostringstream again_err;
  require(vexlo::parse_command_line(args, again_err) == command, "a second parse differs");
  require(again_err.str() == message, "a second parse writes another message");

  if (const auto* list = std::get_if<vexlo::ListCommand>(&command.kind)) check_filter(list->filter);
  if (const auto* logs = std::get_if<vexlo::LogsCommand>(&command.kind)) check_filter(logs->filter);

  // Global options may follow the command word, and the last one wins:
  // appending one changes nothing else, unless the last argument is an
  // option that would take it as its value.
  const bool takes_value = !args.empty() && vexlo::option_takes_value(args.back());
  const bool list_or_logs = std::holds_alternative<vexlo::ListCommand>(command.kind) ||
                            std::holds_alternative<vexlo::LogsCommand>(command.kind);
  if (list_or_logs && !takes_value) {
    std::vector<std::string_view> extended = args;
    extended.insert(extended.end(), {"--log-path", "/appended"});
    std::ostringstream extended_err;
    vexlo::Command expected = command;
    expected.log_path = "/appended";
    // Replacing another --log-path is said.
    expected.misused = command.misused || (command.log_path && command.log_path != "/appended");
    require(vexlo::parse_command_line(extended, extended_err) == expected, "an appended --log-path was not taken");
    extended.pop_back();
    extended.back() = "--log-path=/appended";
    std::ostringstream attached_err;
    require(vexlo::parse_command_line(extended, attached_err) == expected, "an attached --log-path was not taken");

    // So may --read-only, a flag, which changes nothing else.
    std::vector<std::string_view> read_only = args;
    read_only.push_back("--read-only");
    std::ostringstream read_only_err;
    expected = command;
    expected.read_only = true;
    require(vexlo::parse_command_line(read_only, read_only_err) == expected, "an appended --read-only was not taken");
  }

  if (std::holds_alternative<vexlo::HelpCommand>(command.kind)) {
    std::ostringstream usage;
    vexlo::print_usage(vexlo::usage_program_name(args), usage);
    require(usage.str().starts_with("Usage: ") && usage.str().ends_with("\n"), "malformed usage text");
  }
  return 0;
}
