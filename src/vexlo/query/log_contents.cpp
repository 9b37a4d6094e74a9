// The readers share nothing but a window of results: each takes the next
// file, reads and parses it with its own buffer and parser, and leaves the
// result in the file's slot; the calling thread hands the slots on in
// order and frees them. A reader that would run more than the window ahead
// of the calling thread waits.

#include "vexlo/query/log_contents.h"

#include <fcntl.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "vexlo/common/out_of_memory.h"
#include "vexlo/common/threads.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/json/json.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

constexpr std::size_t kFilesAheadPerThread = 4;

// Reads logs one after another with one buffer and one parser. Logs
// larger than kLargeLogSize are read, as by the scan, by one reader at a
// time, which then lets their memory go, so that the readers together hold
// about the largest log plus a fixed amount.
class ContentReader {
 public:
  ContentReader(const ContentRequest& request, std::mutex& large_log_turn)
      : request_(request), large_log_turn_(large_log_turn), opener_(request.log_root) {}

  // A log too large for the memory left is one that could not be read (see
  // common/out_of_memory.h).
  LogContent read(const FileEntry& entry) {
    const std::string& path = system_path(entry);
    auto file = request_.log_root.empty() ? os::open_regular_file(AT_FDCWD, path, os::Links::Follow)
                                          : opener_.open(path);
    if (!file) {
      LogContent content;
      content.problem = file.error().text;
      return content;
    }
    const bool large = file->status.size > kLargeLogSize;
    std::unique_lock turn(large_log_turn_, std::defer_lock);
    if (large) turn.lock();
    const auto read_whole = [&] {
      LogContent content;
      read_into(*file, large, entry, content);
      return content;
    };
    LogContent content = within_memory(read_whole, [] { return out_of_memory(); });
    if (large || !content.problem.empty() || buffer_.capacity() > kLargeLogSize) {
      std::string().swap(buffer_);
      parser_ = json::Parser();
    }
    return content;
  }

 private:
  const std::string& system_path(const FileEntry& entry) const {
    if (request_.system_paths == nullptr) return entry.path;
    const auto found = request_.system_paths->find(entry.path);
    return found != request_.system_paths->end() ? found->second : entry.path;
  }

  void read_into(const os::OpenFile& file, bool large, const FileEntry& entry, LogContent& content) {
    // A file that grew past the bound since it was opened small is refused
    // rather than read outside the turn.
    const os::ReadRules rules{.spare = json::kPadding,
                              .check = json::may_begin_value,
                              .stop_after_nul = true,
                              .max_size = large ? os::kMaxReadSize - 1 : kLargeLogSize};
    const auto read = os::read_open_file(file, buffer_, rules);
    if (!read) {
      content.problem = read.error().text;
      return;
    }
    if (*read != os::ReadContent::Whole) {
      content.problem = kNotOneValue;
      return;
    }
    // The conditions need the document's index; a document only written
    // out is cheaper without it.
    auto parsed = request_.where.empty() ? parse_for_writing(content) : parse_and_match(content);
    if (!parsed) {
      content.problem = parsed.error().out_of_memory ? os::error_text(ENOMEM) : kNotOneValue;
      return;
    }
    if (content.matches && request_.line != nullptr) {
      // The compact form is rarely longer than the text it came from.
      content.line.reserve(buffer_.size() + 256);
      request_.line(content.line, entry, *parsed, request_.escapes);
    }
  }

  std::expected<ReadLog, json::ParseError> parse_for_writing(LogContent& content) {
    auto parsed = parser_.parse_for_writing(json::PaddedText(buffer_));
    if (!parsed) return std::unexpected(parsed.error());
    content.matches = true;
    return ReadLog(*parsed);
  }

  std::expected<ReadLog, json::ParseError> parse_and_match(LogContent& content) {
    auto parsed = parser_.parse_in_place(json::PaddedText(buffer_));
    if (!parsed) return std::unexpected(parsed.error());
    content.matches = matches_all(*parsed, request_.where);
    return ReadLog(*parsed);
  }

  static constexpr const char* kNotOneValue = "it is not one JSON value";

  static LogContent out_of_memory() {
    LogContent content;
    content.problem = os::error_text(ENOMEM);
    return content;
  }

  const ContentRequest& request_;
  std::mutex& large_log_turn_;
  LogFileOpener opener_;
  std::string buffer_;
  json::Parser parser_;
};

// The slots of the files being read and not yet handed on. A thread is
// woken only when it waits for what changed, and then for several files
// rather than for each: readers once half the window is free again, the
// calling thread once half the window lies ready before it (or every file
// is taken, or a reader waits for room). Readers wait only when all the
// files they took are in, so they are woken before the calling thread
// could run out of files to hand on.
class Window {
 public:
  Window(std::size_t files, std::size_t width) : slots_(files), width_(width) {}

  // The next file for a reader, or none when all are taken or the window
  // was closed; waits while the file would lie beyond the window.
  std::optional<std::size_t> next_file() {
    std::unique_lock lock(mutex_);
    while (!closed_ && next_ < slots_.size() && next_ >= handed_ + width_) {
      ++readers_waiting_;
      room_.wait(lock);
      --readers_waiting_;
    }
    if (closed_ || next_ >= slots_.size()) return std::nullopt;
    return next_++;
  }

  void put(std::size_t file, LogContent content) {
    std::unique_lock lock(mutex_);
    slots_[file] = std::move(content);
    while (ready_end_ < slots_.size() && slots_[ready_end_].has_value()) ++ready_end_;
    const bool awaited = taker_waits_ && ready_end_ > handed_ &&
                         (ready_end_ - handed_ >= width_ / 2 || next_ == slots_.size() || readers_waiting_ > 0);
    lock.unlock();
    if (awaited) filled_.notify_one();
  }

  // Waits for the content of `file`, the first not yet handed on.
  LogContent take(std::size_t file) {
    std::unique_lock lock(mutex_);
    taker_waits_ = true;
    filled_.wait(lock, [&] { return slots_[file].has_value(); });
    taker_waits_ = false;
    LogContent content = std::move(*slots_[file]);
    slots_[file].reset();
    handed_ = file + 1;
    const bool wake_readers = readers_waiting_ > 0 && handed_ + width_ - next_ >= width_ / 2;
    lock.unlock();
    if (wake_readers) room_.notify_all();
    return content;
  }

  void close() {
    {
      const std::lock_guard lock(mutex_);
      closed_ = true;
    }
    room_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable filled_;  // the file to hand on next was read
  std::condition_variable room_;    // a file was handed on, or the window closed
  std::vector<std::optional<LogContent>> slots_;
  std::size_t width_;
  std::size_t next_ = 0;
  std::size_t handed_ = 0;
  std::size_t ready_end_ = 0;  // the first slot from handed_ on not yet filled
  std::size_t readers_waiting_ = 0;
  bool taker_waits_ = false;
  bool closed_ = false;
};

}  // namespace

LogContent read_log_content(const FileEntry& entry, const ContentRequest& request) {
  std::mutex large_log_turn;
  return ContentReader(request, large_log_turn).read(entry);
}

void read_log_contents(std::span<const FileEntry> entries, const ContentRequest& request, std::size_t threads,
                       const std::function<bool(std::size_t, LogContent&)>& take) {
  if (entries.empty()) return;
  const std::size_t readers = std::max<std::size_t>(std::min(threads, entries.size()), 1);
  Window window(entries.size(), readers * kFilesAheadPerThread);
  std::mutex large_log_turn;
  const auto read_until_done = [&] {
    ContentReader reader(request, large_log_turn);
    while (const auto file = window.next_file()) window.put(*file, reader.read(entries[*file]));
  };
  const auto pool = start_threads(readers, read_until_done);
  if (pool.empty()) {
    ContentReader reader(request, large_log_turn);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      LogContent content = reader.read(entries[i]);
      if (!take(i, content)) return;
    }
    return;
  }
  // Closed before the readers are joined, however this ends.
  const struct Closer {
    Window& window;
    ~Closer() { window.close(); }
  } closer{window};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    LogContent content = window.take(i);
    if (!take(i, content)) break;
  }
}

}  // namespace vexlo
