// The follower numbers every new log as --follow does (each round opens the
// database, synchronises and saves, and only then prints), so the view
// shows only IDs that are kept. It follows every log of the tree; the view
// keeps those its filter line selects at the time.

#include "vexlo/app/browse_live.h"

#include "vexlo/json/json.h"

namespace vexlo {
namespace {

std::optional<FileEntry> entry_of(std::string_view line) {
  const auto document = json::parse(line);
  if (!document || document->root().kind() != json::Kind::Object) return std::nullopt;
  const json::Value root = document->root();
  const auto id = root.find("id");
  const auto path = root.find("path");
  const auto time = root.find("time");
  if (!id || !path || !time || id->kind() != json::Kind::Unsigned || path->kind() != json::Kind::String) {
    return std::nullopt;
  }
  const bool signed_time = time->kind() == json::Kind::Signed;
  if (!signed_time && time->kind() != json::Kind::Unsigned) return std::nullopt;
  return FileEntry{std::string(path->as_string()), id->as_unsigned(),
                   signed_time ? time->as_signed() : static_cast<std::int64_t>(time->as_unsigned())};
}

}  // namespace

std::string SharedLines::take() {
  const std::lock_guard lock(mutex_);
  const std::size_t end = text_.rfind('\n');
  if (end == std::string::npos) return {};
  std::string lines = text_.substr(0, end + 1);
  text_.erase(0, end + 1);
  return lines;
}

SharedLines::int_type SharedLines::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  const std::lock_guard lock(mutex_);
  text_ += traits_type::to_char_type(ch);
  return ch;
}

std::streamsize SharedLines::xsputn(const char* data, std::streamsize size) {
  const std::lock_guard lock(mutex_);
  text_.append(data, static_cast<std::size_t>(size));
  return size;
}

browse::Listing read_followed_lines(std::string_view lines) {
  browse::Listing listing;
  while (!lines.empty()) {
    const std::size_t end = std::min(lines.find('\n'), lines.size());
    const std::string_view line = lines.substr(0, end);
    lines.remove_prefix(std::min(end + 1, lines.size()));
    if (auto entry = line.starts_with('{') ? entry_of(line) : std::nullopt) {
      listing.entries.push_back(std::move(*entry));
    } else if (!line.empty()) {
      listing.messages.append(line).push_back('\n');
    }
  }
  return listing;
}

namespace {

// A hangup too ends the view: the terminal is gone, or the user was told
// to leave it.
std::optional<os::StopSignals> block_view_stop_signals() {
  auto blocked = os::StopSignals::block(true);
  if (!blocked) return std::nullopt;
  return std::optional<os::StopSignals>(std::move(*blocked));
}

}  // namespace

// The JSON lines carry each path exactly; the warnings are escaped for the
// terminal they end up on.
BrowseLive::BrowseLive(const std::string& log_root, bool read_only)
    : stream_(&lines_),
      stop_(block_view_stop_signals()),
      follower_(
          log_root, read_only,
          [&log_root, read_only] {
            return read_only ? Database::open_read_only(log_root) : Database::open(log_root, OpenOptions{});
          },
          stream_, TerminalOutput{false, true}) {}

bool BrowseLive::start(const ListingScan& listing, std::span<const PassedOverDirectory> passed_over) {
  if (!follower_.stoppable()) return false;
  listing_ = listing;
  thread_.emplace([this, passed_over] {
    ListQuery every_log;
    every_log.format = ListFormat::Json;
    follower_.follow(every_log, listing_, passed_over, stream_);
  });
  return true;
}

BrowseLive::~BrowseLive() {
  if (!thread_) return;
  os::request_stop(thread_->native_handle());
  thread_->join();
}

}  // namespace vexlo
