// The view lists through the same query functions as `list` and `logs`:
// the filter line is parsed as the words after `browse` on the command
// line, with the same warnings, which the view shows on its message line
// rather than on standard error, where they would tear the screen.

#include "vexlo/app/browse.h"

#include <sstream>
#include <vector>

#include "vexlo/app/browse_live.h"
#include "vexlo/app/queries.h"
#include "vexlo/browse/screen.h"
#include "vexlo/browse/words.h"
#include "vexlo/os/standard_streams.h"
#include "vexlo/query/fields.h"
#include "vexlo/query/list.h"
#include "vexlo/query/log_contents.h"
#include "vexlo/query/show.h"

namespace vexlo {
namespace {

// Both the view's texts go to the terminal.
constexpr TerminalOutput kTerminal{true, true};

// The logs the filter line selects; `query` becomes its query,
// `system_paths` the bytes of its paths that are not UTF-8, and `scanned`
// what its scan met.
browse::Listing list_logs(const Database& database, const std::string& log_root, std::string_view filter_line,
                          ListQuery& query, SystemPaths& system_paths, ListingScan* scanned) {
  const std::vector<std::string> words = browse::split_words(filter_line);
  std::vector<std::string_view> args = {"vexlo", "browse"};
  args.insert(args.end(), words.begin(), words.end());
  std::ostringstream said;
  const Command parsed = parse_command_line(args, said, true);
  // The word "browse" always makes a BrowseCommand.
  const auto* command = std::get_if<BrowseCommand>(&parsed.kind);
  query = make_browse_query(command != nullptr ? *command : BrowseCommand{}, said);
  auto selected = select_log_files(database, log_root, query, said, kTerminal, scanned);
  browse::Listing listing;
  if (selected) {
    listing.entries = keep_matching_content(std::move(selected->entries), query, log_root, &selected->system_paths);
    system_paths = std::move(selected->system_paths);
  }
  listing.messages = said.str();
  return listing;
}

std::string preview(const std::string& log_root, const FileEntry& entry, const SystemPaths& system_paths,
                    bool colour) {
  std::ostringstream out;
  std::ostringstream err;
  show_log_at(log_root, entry.path.str(), system_path_of(system_paths, entry.path.str()), ShowFormat::Pretty, out,
              err, kTerminal, colour);
  return err.str().empty() ? out.str() : err.str();
}

// The cells of --fields, read as list --fields reads them; a log that
// cannot be read has none of its fields.
std::vector<std::string> field_cells(const std::string& log_root, const FileEntry& entry,
                                     std::span<const std::string> keys, const SystemPaths& system_paths) {
  if (keys.empty()) return {};
  ContentRequest request;
  request.log_root = log_root;
  request.system_paths = &system_paths;
  request.fields = keys;
  const LogContent content = read_log_content(entry, request);
  std::vector<std::string> cells;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    cells.push_back(field_cell(i < content.fields.size() ? content.fields[i] : std::nullopt, true));
  }
  return cells;
}

// New logs, of those the filter line selects now.
void take_new_logs(BrowseLive& live, const ListQuery& query, const std::string& log_root, browse::Browser& browser) {
  browse::Listing news = live.take();
  if (news.entries.empty() && news.messages.empty()) return;
  std::erase_if(news.entries, [&](const FileEntry& entry) { return !is_selected(entry, query); });
  browser.add_new(keep_matching_content(std::move(news.entries), query, log_root), news.messages);
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
  if (!command.fields.empty()) {
    words.emplace_back("--fields");
    std::string keys;
    for (const std::string& key : command.fields) keys += (keys.empty() ? "" : ",") + key;
    words.push_back(std::move(keys));
  }
  return browse::joined_words(words);
}

int browse_logs(const BrowseCommand& command, const Database& database, const std::string& log_root,
                BrowseLive* live, bool colour, std::ostream& err) {
  ListQuery query;
  // What the first listing scanned is not new to the follower.
  std::optional<ListingScan> first_scan;
  SystemPaths system_paths;  // of the listing shown
  const browse::Source source{
      [&](std::string_view line) {
        const bool first = !first_scan;
        if (first) first_scan.emplace();
        return list_logs(database, log_root, line, query, system_paths, first ? &*first_scan : nullptr);
      },
      [&](const FileEntry& entry) { return preview(log_root, entry, system_paths, colour); },
      [&](const FileEntry& entry) { return field_cells(log_root, entry, query.fields, system_paths); },
  };
  bool following = false;
  const browse::TakeNews take_news = [&](browse::Browser& browser) {
    if (live == nullptr) return;
    if (!following && first_scan) following = live->start(*first_scan, database.passed_over());
    if (following) take_new_logs(*live, query, log_root, browser);
  };
  const std::string line = browse_filter_line(command);
  // What the run said before the view is on the terminal when it ends.
  err.flush();
  const auto shown = browse::run_screen(
      [&](std::size_t rows, std::size_t cols) { return browse::Browser(source, line, rows, cols); }, take_news,
      live != nullptr ? live->stop_fd() : -1, browse::ScreenStyle{.colour = colour});
  if (!shown) {
    err << "Error: cannot use the terminal: " << shown.error().text << '\n';
    return kBrowseNeedsTerminalStatus;
  }
  return 0;
}

}  // namespace vexlo
