#pragma once
// Reading the selected logs themselves, for --where and --content: each
// file read and parsed once, on every processor, the results handed on in
// the listing's order.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <semaphore>
#include <span>
#include <string>
#include <variant>

#include "vexlo/db/database.h"
#include "vexlo/query/fields.h"
#include "vexlo/query/where.h"

namespace vexlo {

// A log as the thread that read it holds it, valid while the line is made.
class ReadLog {
 public:
  explicit ReadLog(json::Value document) : document_(document) {}
  explicit ReadLog(json::ParsedText document) : document_(document) {}
  // Its compact form, as show --json writes it.
  void append_compact(std::string& out, json::Escapes escapes) const {
    std::visit([&](const auto& document) { json::append_compact(out, document, escapes); }, document_);
  }

 private:
  std::variant<json::Value, json::ParsedText> document_;
};

struct LogContent;

struct ContentRequest {
  std::span<const WhereCondition> where;  // all must hold
  // When set, the line to print for a log that matches, made from its
  // entry, its document and its fields by the thread that read it, so that
  // the rendering too runs on every processor.
  void (*line)(std::string& line, const FileEntry& entry, const ReadLog& log, const LogContent& content,
               const ContentRequest& request) = nullptr;
  // When set, the log root below which each log is opened as show opens
  // it, so that a file swapped for a link since the scan is not read.
  std::string log_root = {};
  json::Escapes escapes = json::Escapes::Controls;  // of `line`: Terminal for a terminal
  // When set, the bytes of the paths that are not UTF-8 (see ScanNotes):
  // such a log is read through the name the scan found.
  const SystemPaths* system_paths = nullptr;
  std::span<const std::string> fields = {};          // the keys of --fields, read from a log that matches
};

// The turn of the one reader of a large log, given back when dropped.
struct GiveBackTurn {
  void operator()(std::binary_semaphore* turn) const { turn->release(); }
};
using LogTurn = std::unique_ptr<std::binary_semaphore, GiveBackTurn>;

// What reading one log gave.
struct LogContent {
  // For a large log, held until its line has been handed on and dropped
  // (members go in reverse order), so that no other large log is read
  // meanwhile.
  LogTurn large_log_turn;
  bool matches = false;  // it was read and every condition holds
  std::string line;      // with `line` in the request, when it matches
  std::string problem;   // why it could not be read, when it could not
  FieldValues fields;    // of the request's keys, when it matches
};

// Reads the files of `entries` with up to `threads` threads and calls
// `take` with each file's position and content, in the order of `entries`,
// on the calling thread, until it returns false or every file is done.
// Threads run at most a few files ahead of `take`, so that the documents
// held at once stay few however many files there are.
void read_log_contents(std::span<const FileEntry> entries, const ContentRequest& request, std::size_t threads,
                       const std::function<bool(std::size_t, LogContent&)>& take);

// The same for one file, on the calling thread.
LogContent read_log_content(const FileEntry& entry, const ContentRequest& request);

}  // namespace vexlo
