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
#include <semaphore>
#include <vector>

#include "vexlo/common/out_of_memory.h"
#include "vexlo/common/threads.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/json/json.h"
#include "vexlo/json/streamed_check.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/memory.h"
#include "vexlo/query/memory_budget.h"

namespace vexlo {
namespace {

constexpr std::size_t kFilesAheadPerThread = 4;

// Reads logs one after another with one buffer and one parser. Logs
// larger than uncounted_log_size (see memory_budget.h) are read by one
// reader at a time, whose turn lasts until their content has been handed
// on, and the reader then lets their memory go; so the readers together
// hold the largest log and what it may take, plus a fixed amount. Such a
// log whose document would take more is refused before it is parsed.
class ContentReader {
 public:
  ContentReader(const ContentRequest& request, std::binary_semaphore& large_log_turn, std::size_t readers)
      : request_(request),
        large_log_turn_(large_log_turn),
        opener_(request.log_root),
        uncounted_size_(uncounted_log_size(readers)) {}

  // A log too large for the memory left is one that could not be read (see
  // common/out_of_memory.h).
  // `wait_for_turn` returns once the files before this one have been
  // handed on.
  template <class WaitForTurn>
  LogContent read(const FileEntry& entry, WaitForTurn wait_for_turn) {
    const std::string path = system_path(entry);
    auto file = request_.log_root.empty() ? os::open_regular_file(AT_FDCWD, path, os::Links::Follow)
                                          : opener_.open(path);
    if (!file) {
      LogContent content;
      content.problem = file.error().text;
      return content;
    }
    LogTurn turn;
    const auto take_turn = [&] {
      wait_for_turn();
      large_log_turn_.acquire();
      turn = LogTurn(&large_log_turn_);
      // What the last large log left is freed, but kept by the allocator
      // in blocks this one may not fit.
      os::release_freed_memory();
    };
    if (file->status.size > uncounted_size_) take_turn();
    const auto read_whole = [&] {
      LogContent content;
      read_into(*file, turn, take_turn, entry, content);
      return content;
    };
    LogContent content = within_memory(read_whole, [] { return out_of_memory(); });
    if (turn || !content.problem.empty() || buffer_.capacity() > uncounted_size_) {
      std::string().swap(buffer_);
      parser_ = json::Parser();
    }
    content.large_log_turn = std::move(turn);
    return content;
  }

 private:
  std::string system_path(const FileEntry& entry) const {
    if (request_.system_paths == nullptr) return entry.path.str();
    return system_path_of(*request_.system_paths, entry.path.str());
  }

  template <class TakeTurn>
  void read_into(const os::OpenFile& file, LogTurn& turn, TakeTurn take_turn, const FileEntry& entry,
                 LogContent& content) {
    // A file that grew past the bound since it was opened small is refused
    // rather than read outside the turn.
    const os::ReadRules rules{.spare = json::kPadding,
                              .check = json::may_begin_value,
                              .stop_after_nul = true,
                              .max_size = turn ? os::kMaxReadSize - 1 : kLargeLogSize};
    const auto read = os::read_open_file(file, buffer_, rules);
    if (!read) {
      content.problem = read.error().text;
      return;
    }
    if (*read != os::ReadContent::Whole) {
      content.problem = kNotOneValue;
      return;
    }
    // One that grew since it was opened waits for the turn now.
    if (!turn && buffer_.size() > uncounted_size_) take_turn();
    // Fields are read from the document, so only conditions alone are met
    // on the text.
    const bool reads_fields = !request_.fields.empty();
    bool matched_on_text = false;
    if (turn && !reads_fields && !request_.where.empty() &&
        request_.where.size() <= kMaxStreamedConditions) {
      // The conditions need no document; a log that meets them needs one
      // only for its line.
      if (!json::is_one_value_streamed(buffer_)) {
        content.problem = kNotOneValue;
        return;
      }
      content.matches = matches_all_in_text(buffer_, request_.where);
      if (request_.line == nullptr || !content.matches) return;
      matched_on_text = true;
    }
    // The fields need the document's index, and so do more conditions than
    // a walk in the order of the text keeps apart; a document only matched
    // and written out is cheaper without it.
    const bool reads_keys = reads_fields || (!matched_on_text && request_.where.size() > kMaxStreamedConditions);
    if (turn) {
      const LogHolding holding{.indexed = reads_keys, .line = request_.line != nullptr};
      content.problem = refusal_for(buffer_, holding, kMemorySlack / 2);
      if (!content.problem.empty()) return;
    }
    auto parsed = reads_keys ? parse_and_match(content) : parse_and_match_in_order(content, matched_on_text);
    if (!parsed) {
      content.problem = parsed.error().out_of_memory ? os::error_text(ENOMEM) : kNotOneValue;
      return;
    }
    if (content.matches && request_.line != nullptr) {
      // The compact form is rarely longer than the text it came from.
      content.line.reserve(buffer_.size() + 256);
      request_.line(content.line, entry, *parsed, content, request_);
    }
  }

  std::expected<ReadLog, json::ParseError> parse_and_match_in_order(LogContent& content, bool matched_on_text) {
    auto parsed = parser_.parse_for_writing(json::PaddedText(buffer_));
    if (!parsed) return std::unexpected(parsed.error());
    content.matches = matched_on_text || matches_all(*parsed, request_.where);
    return ReadLog(*parsed);
  }

  std::expected<ReadLog, json::ParseError> parse_and_match(LogContent& content) {
    auto parsed = parser_.parse_in_place(json::PaddedText(buffer_));
    if (!parsed) return std::unexpected(parsed.error());
    content.matches = matches_all(*parsed, request_.where);
    if (content.matches) content.fields = read_fields(*parsed, request_.fields);
    return ReadLog(*parsed);
  }

  static constexpr const char* kNotOneValue = "it is not one JSON value";

  static LogContent out_of_memory() {
    LogContent content;
    content.problem = os::error_text(ENOMEM);
    return content;
  }

  const ContentRequest& request_;
  std::binary_semaphore& large_log_turn_;
  LogFileOpener opener_;
  std::uint64_t uncounted_size_;
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

  // Waits until the files before `file` have been handed on, or the window
  // was closed.
  void wait_for_turn(std::size_t file) {
    std::unique_lock lock(mutex_);
    if (closed_ || handed_ >= file) return;
    ++readers_waiting_;
    // The calling thread may be waiting for files already in, which it
    // must now hand on.
    if (taker_waits_ && ready_end_ > handed_) filled_.notify_one();
    handed_on_.wait(lock, [&] { return closed_ || handed_ >= file; });
    --readers_waiting_;
  }

  void put(std::size_t file, LogContent content) {
    std::unique_lock lock(mutex_);
    // Nobody takes it any more: dropped here, with any turn it holds.
    if (closed_) return;
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
    const bool readers_wait = readers_waiting_ > 0;
    lock.unlock();
    if (wake_readers) room_.notify_all();
    if (readers_wait) handed_on_.notify_all();
    return content;
  }

  // Drops what is left, giving back any turn it holds, so that no reader
  // waits for one.
  void close() {
    std::vector<std::optional<LogContent>> left;
    {
      const std::lock_guard lock(mutex_);
      closed_ = true;
      left.swap(slots_);
    }
    room_.notify_all();
    handed_on_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable filled_;  // the file to hand on next was read
  std::condition_variable room_;    // a file was handed on, or the window closed
  std::condition_variable handed_on_;  // the same, for a reader waiting for its turn
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
  std::binary_semaphore large_log_turn(1);
  LogContent content = ContentReader(request, large_log_turn, 1).read(entry, [] {});
  content.large_log_turn.reset();
  return content;
}

void read_log_contents(std::span<const FileEntry> entries, const ContentRequest& request, std::size_t threads,
                       const std::function<bool(std::size_t, LogContent&)>& take) {
  if (entries.empty()) return;
  const std::size_t readers = std::max<std::size_t>(std::min(threads, entries.size()), 1);
  Window window(entries.size(), readers * kFilesAheadPerThread);
  std::binary_semaphore large_log_turn(1);
  const auto read_until_done = [&] {
    ContentReader reader(request, large_log_turn, readers);
    while (const auto file = window.next_file()) {
      window.put(*file, reader.read(entries[*file], [&] { window.wait_for_turn(*file); }));
    }
  };
  const auto pool = start_threads(readers, read_until_done);
  if (pool.empty()) {
    ContentReader reader(request, large_log_turn, 1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      LogContent content = reader.read(entries[i], [] {});
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
