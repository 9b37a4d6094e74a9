// The view lists through the same query functions as `list` and `logs`:
// the filter line is parsed as the words after `browse` on the command
// line, with the same warnings, which the view shows on its message line
// rather than on standard error, where they would tear the screen.

#include "vexlo/app/browse.h"

#include <sstream>
#include <vector>

#include "vexlo/app/queries.h"
#include "vexlo/browse/screen.h"
#include "vexlo/browse/words.h"
#include "vexlo/os/standard_streams.h"
#include "vexlo/query/list.h"
#include "vexlo/query/show.h"

namespace vexlo {
namespace {

// Both the view's texts go to the terminal.
constexpr TerminalOutput kTerminal{true, true};

browse::Listing list_logs(const Database& database, const std::string& log_root, std::string_view filter_line) {
  const std::vector<std::string> words = browse::split_words(filter_line);
  std::vector<std::string_view> args = {"vexlo", "browse"};
  args.insert(args.end(), words.begin(), words.end());
  std::ostringstream said;
  const Command parsed = parse_command_line(args, said, true);
  // The word "browse" always makes a BrowseCommand.
  const auto* command = std::get_if<BrowseCommand>(&parsed.kind);
  const ListQuery query = make_browse_query(command != nullptr ? *command : BrowseCommand{}, said);
  auto selected = select_log_files(database, log_root, query, said, kTerminal);
  browse::Listing listing;
  if (selected) {
    listing.entries = keep_matching_content(std::move(selected->entries), query, log_root, &selected->system_paths);
  }
  listing.messages = said.str();
  return listing;
}

std::string preview(const std::string& log_root, const FileEntry& entry) {
  std::ostringstream out;
  std::ostringstream err;
  show_log_at(log_root, entry.path, ShowFormat::Pretty, out, err, kTerminal);
  return err.str().empty() ? out.str() : err.str();
}

}  // namespace

bool can_browse() { return os::is_terminal(os::kStandardInput) && os::is_terminal(os::kStandardOutput); }

std::string browse_filter_line(const BrowseCommand& command) {
  std::vector<std::string> words;
  if (command.filter) words.push_back(*command.filter);
  if (command.all) words.emplace_back("--all");
  for (const std::string& condition : command.where) {
    words.emplace_back("--where");
    words.push_back(condition);
  }
  for (const auto& [option, value] : {std::pair{"--since", command.since}, std::pair{"--before", command.before}}) {
    if (!value) continue;
    words.emplace_back(option);
    words.push_back(*value);
  }
  return browse::joined_words(words);
}

int browse_logs(const BrowseCommand& command, const Database& database, const std::string& log_root,
                std::ostream& err) {
  const browse::Source source{
      [&](std::string_view line) { return list_logs(database, log_root, line); },
      [&](const FileEntry& entry) { return preview(log_root, entry); },
  };
  const std::string line = browse_filter_line(command);
  // What the run said before the view is on the terminal when it ends.
  err.flush();
  const auto shown = browse::run_screen(
      [&](std::size_t rows, std::size_t cols) { return browse::Browser(source, line, rows, cols); }, std::nullopt);
  if (!shown) {
    err << "Error: cannot use the terminal: " << shown.error().text << '\n';
    return kBrowseNeedsTerminalStatus;
  }
  return 0;
}

}  // namespace vexlo
