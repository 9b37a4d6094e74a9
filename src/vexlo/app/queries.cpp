#include "vexlo/app/queries.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "vexlo/common/utf8.h"
#include "vexlo/json/json.h"
#include "vexlo/query/time_expression.h"

namespace vexlo {
namespace {

std::string path_filter(const std::optional<std::string>& filter) {
  return filter ? *filter : std::string(kDefaultPathFilter);
}

// The JSON listing carries the time itself, so --time adds nothing to it.
template <class Listing>
ListFormat list_format(const Listing& command) {
  if (command.json) return ListFormat::Json;
  return command.time ? ListFormat::Time : ListFormat::Text;
}

// The value as the user typed it, in quotation marks, with every byte that
// is no printable UTF-8 text escaped, and on a terminal also the characters
// that reorder or hide text.
std::string quoted_value(std::string_view value, bool terminal) {
  std::string quoted;
  json::append_quoted_without_controls(quoted, to_utf8_lossy(value),
                                       terminal ? json::Escapes::Terminal : json::Escapes::Controls);
  return quoted;
}

// A bound that is dropped is reported: a listing without it looks just like
// one with it.
std::optional<std::int64_t> time_bound(std::string_view option, const std::optional<std::string>& expression,
                                       std::ostream& err, bool err_is_terminal) {
  if (!expression) return std::nullopt;
  const auto instant = parse_time_expression(*expression);
  if (!instant) {
    err << "Warning: " << option << " value " << quoted_value(*expression, err_is_terminal)
        << " is not a time expression and is ignored (use -<number>day or YYYY-MM-DD [HH:MM[:SS]])\n";
  }
  return instant;
}

template <class Listing>
void add_content_options(const Listing& command, ListQuery& query) {
  for (const auto& condition : command.where) query.where.push_back(parse_where(condition));
  if constexpr (requires { command.content; }) query.content = command.content;
  if constexpr (requires { command.fields; }) query.fields = command.fields;
}

}  // namespace

ListQuery make_list_query(const ListCommand& command) {
  ListQuery query;
  query.filter = command.all ? std::string() : path_filter(command.filter);
  query.format = list_format(command);
  add_content_options(command, query);
  return query;
}

LogsQuery make_logs_query(const LogsCommand& command, std::ostream& err, bool err_is_terminal) {
  ListQuery query;
  query.filter = path_filter(command.filter);
  query.since = time_bound("--since", command.since, err, err_is_terminal);
  query.before = time_bound(command.before_name, command.before, err, err_is_terminal);
  const bool dropped = (command.since && !query.since) || (command.before && !query.before);
  query.limit = command.count;
  query.format = list_format(command);
  add_content_options(command, query);
  return {std::move(query), dropped};
}

ListQuery make_browse_query(const BrowseCommand& command, std::ostream& err) {
  ListQuery query;
  query.filter = command.all ? std::string() : path_filter(command.filter);
  // Its warnings are shown on the view's screen.
  query.since = time_bound("--since", command.since, err, true);
  query.before = time_bound("--before", command.before, err, true);
  add_content_options(command, query);
  return query;
}

ShowFormat show_format(const ShowCommand& command) {
  if (command.pretty) return ShowFormat::Pretty;
  return command.json ? ShowFormat::Json : ShowFormat::Text;
}

}  // namespace vexlo
