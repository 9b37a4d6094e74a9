// A cursor file is the caller's own file, anywhere, and is written even by
// a --read-only run. It is read only when it is a regular file of the
// running user that nobody else may write, and replaced by a new file
// renamed over it, mode 0600: a link planted at its name is replaced, never
// followed.

#include "vexlo/app/cursor.h"

#include <fcntl.h>

#include <cerrno>

#include "vexlo/common/decimal.h"
#include "vexlo/db/database_file.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/standard_streams.h"
#include "vexlo/os/temporary_file.h"

namespace vexlo {
namespace {

constexpr std::string_view kFirstLine = "vexlo cursor 1\n";
constexpr std::string_view kDatabaseKey = "database ";
constexpr std::string_view kIdKey = "id ";
constexpr std::string_view kNoInstance = "-";
// Far above any record, small enough that a wrong file costs nothing.
constexpr std::uint64_t kMaxCursorSize = 4096;

// The value of the line "<key><value>\n" at the start of `text`, which is
// then moved past it.
std::optional<std::string_view> take_line(std::string_view& text, std::string_view key) {
  const auto end = text.find('\n');
  if (!text.starts_with(key) || end == std::string_view::npos) return std::nullopt;
  const std::string_view value = text.substr(key.size(), end - key.size());
  text.remove_prefix(end + 1);
  return value;
}

Error cursor_error(std::string text) { return Error{std::move(text), 0}; }

std::string reason_not_read(const Error& error) {
  switch (error.os_code) {
    case ELOOP:
      return "it is a symbolic link";
    case EISDIR:
    case EINVAL:
      return "it is not a regular file";
    case EFBIG:
      return "it is not a vexlo cursor file";
    default:
      return error.text;
  }
}

// The directory that holds `path` and the name in it.
std::pair<std::string, std::string> split_path(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

std::string render_cursor(const CursorRecord& record) {
  std::string text(kFirstLine);
  text += kDatabaseKey;
  text += record.instance.empty() ? kNoInstance : std::string_view(record.instance);
  text += '\n';
  text += kIdKey;
  text += std::to_string(record.id);
  text += '\n';
  return text;
}

Result<CursorRecord> parse_cursor(std::string_view text) {
  if (!text.starts_with(kFirstLine)) return std::unexpected(cursor_error("it is not a vexlo cursor file"));
  text.remove_prefix(kFirstLine.size());
  const auto damaged = std::unexpected(cursor_error("it is damaged"));
  const auto instance = take_line(text, kDatabaseKey);
  const auto id_text = take_line(text, kIdKey);
  if (!instance || !id_text || !text.empty()) return damaged;
  if (*instance != kNoInstance && !is_database_instance(*instance)) return damaged;
  const auto id = parse_unsigned_decimal(*id_text);
  if (!id || id_text->starts_with('+')) return damaged;
  return CursorRecord{*instance == kNoInstance ? std::string() : std::string(*instance), *id};
}

Result<Cursor> Cursor::load(std::string path) {
  Cursor cursor(std::move(path));
  auto file = os::open_regular_file(AT_FDCWD, cursor.path_, os::Links::DoNotFollow);
  if (!file && file.error().os_code == ENOENT) return cursor;
  if (!file) return std::unexpected(cursor_error(reason_not_read(file.error())));
  if (file->status.owner != os::current_user()) {
    return std::unexpected(cursor_error("it belongs to user " + std::to_string(file->status.owner)));
  }
  if (!os::only_owner_writes(file->status)) return std::unexpected(cursor_error("others may write it"));
  std::string text;
  if (auto read = os::read_open_file(*file, text, {.max_size = kMaxCursorSize}); !read) {
    return std::unexpected(cursor_error(reason_not_read(read.error())));
  }
  auto record = parse_cursor(text);
  if (!record) return std::unexpected(record.error());
  cursor.written_ = *record;
  cursor.current_ = std::move(*record);
  return cursor;
}

std::uint64_t Cursor::above(const Database& database, std::ostream& err, TerminalOutput terminals) {
  const std::string instance(database.saved_instance());
  if (!current_) {
    current_ = CursorRecord{instance, 0};
    return 0;
  }
  // A record made on a database without an instance is held to the
  // counter alone: an ID the database never gave.
  const bool other_instance = !current_->instance.empty() && current_->instance != instance;
  if (other_instance || current_->id >= database.next_file_id()) {
    err << "Warning: " << Shown{database.db_path(), terminals.err} << " was made anew since cursor file "
        << Shown{path_, terminals.err} << " was recorded; starting again from the first ID\n";
    current_ = CursorRecord{instance, 0};
    return 0;
  }
  current_->instance = instance;
  return current_->id;
}

Status Cursor::record(std::uint64_t highest_printed) {
  CursorRecord next = current_.value_or(CursorRecord{});
  next.id = std::max(next.id, highest_printed);
  if (written_ == next) return {};
  const auto [directory_path, name] = split_path(path_);
  if (name.empty() || name == "." || name == "..") return std::unexpected(cursor_error("it names a directory"));
  auto directory = os::Directory::open(directory_path, os::Links::Follow);
  if (!directory) return std::unexpected(directory.error());
  if (auto replaced = os::replace_file(*directory, name, render_cursor(next), os::Permissions::OwnerOnly); !replaced) {
    return replaced;
  }
  written_ = next;
  current_ = std::move(next);
  return {};
}

bool record_cursor(Cursor& cursor, std::uint64_t highest_printed, std::ostream& out, std::ostream& err,
                   TerminalOutput terminals) {
  out.flush();
  // A line that may not have got out, or that a reader which dies now
  // would take with it, is printed again next time.
  if (!out || !os::wait_until_read(os::kStandardOutput)) return false;
  auto recorded = cursor.record(highest_printed);
  if (!recorded) {
    err << "Error: cannot record cursor file " << Shown{cursor.path(), terminals.err} << ": "
        << Shown{recorded.error().text, terminals.err} << '\n';
  }
  return recorded.has_value();
}

}  // namespace vexlo
