// Database loading with the input as the database file: opening must never
// fail on the content, the counter must lie above every ID loaded, and what
// was loaded must survive a save and a reload unchanged, entries and counter
// alike. Read in pieces of any size, the file loads as its whole text does.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_check.h"
#include "vexlo/db/database.h"
#include "vexlo/db/database_file.h"

namespace {

using vexlo::fuzz::require;

struct Scratch {
  std::string log_root;
  std::string db_path;
};

const Scratch& scratch() {
  static const Scratch paths = [] {
    Scratch s;
    s.log_root = vexlo::fuzz::make_scratch_directory();
    require(::mkdir((s.log_root + "/.config").c_str(), 0755) == 0, "cannot make .config");
    s.db_path = s.log_root + "/.config/vexlo-db.json";
    return s;
  }();
  return paths;
}

void write_database(std::string_view text) {
  std::ofstream file(scratch().db_path, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  require(static_cast<bool>(file.flush()), "cannot write the database file");
}

std::string describe(const std::vector<vexlo::FileEntry>& files, std::uint64_t next_file_id) {
  std::string text = "next_file_id " + std::to_string(next_file_id) + "\n";
  for (const auto& entry : files) text += std::to_string(entry.id) + " " + entry.path.str() + "\n";
  return text;
}

}  // namespace

// The file read in pieces of `piece` bytes against its whole text.
void check_pieces(std::string_view text, std::size_t piece) {
  const vexlo::ReadFileAt read_at = [text](std::uint64_t offset, std::span<char> into) -> vexlo::Result<std::size_t> {
    const std::string_view rest = text.substr(std::min<std::size_t>(offset, text.size()));
    const std::size_t count = std::min(rest.size(), into.size());
    std::copy_n(rest.data(), count, into.data());
    return count;
  };
  const auto in_pieces = vexlo::load_own_database_layout(text.size(), read_at, piece);
  const auto in_one_piece = vexlo::load_own_database_layout(text.size(), read_at, text.size() + 1);
  require(in_pieces.has_value() && in_one_piece.has_value(), "reading in pieces failed");
  require(in_pieces->has_value() == in_one_piece->has_value(), "the pieces change whether the layout is the tool's own");
  if (!*in_pieces) return;
  const auto whole = vexlo::load_database_bytes(text);
  const vexlo::LoadedDatabase& loaded = **in_pieces;
  require(!whole.damaged && loaded.content.files == whole.content.files &&
              loaded.content.next_file_id == whole.content.next_file_id &&
              loaded.content.instance == whole.content.instance,
          "the pieces change the load",
          describe(loaded.content.files, loaded.content.next_file_id) + "--- whole ---\n" +
              describe(whole.content.files, whole.content.next_file_id));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_database({reinterpret_cast<const char*>(data), size});
  check_pieces({reinterpret_cast<const char*>(data), size}, 1 + size % 61);

  std::vector<vexlo::FileEntry> loaded;
  std::uint64_t next_file_id = 0;
  {
    auto database = vexlo::Database::open(scratch().log_root);
    require(database.has_value(), "opening failed on the content of the file");
    require(database->next_file_id() != 0, "the counter is 0");
    for (const auto& entry : database->files()) {
      require(entry.timestamp == 0, "a loaded entry carries a time");
      require(entry.id < database->next_file_id() || database->next_file_id() == UINT64_MAX,
              "the counter is not above a loaded ID", std::to_string(entry.id));
    }
    loaded = database->files();
    next_file_id = database->next_file_id();
    const auto saved = database->save();
    require(saved.has_value(), "saving failed", saved ? "" : saved.error().text);
    // A damaged input was kept beside the database; the next input must not
    // find the name taken.
    if (!database->kept_damaged_file().empty()) ::unlink(database->kept_damaged_file().c_str());
  }

  auto reloaded = vexlo::Database::open(scratch().log_root);
  require(reloaded.has_value(), "reopening failed");
  require(reloaded->files() == loaded && reloaded->next_file_id() == next_file_id,
          "a save and a reload changed the database",
          describe(loaded, next_file_id) + "--- after the reload ---\n" +
              describe(reloaded->files(), reloaded->next_file_id()));
  for (const auto& entry : loaded) {
    const auto* found = reloaded->find_by_path(entry.path);
    require(found != nullptr && found->path == entry.path, "a loaded path cannot be found", entry.path);
    if (entry.id == 0) continue;  // no ID
    const auto* by_id = reloaded->find_by_id(entry.id);
    require(by_id != nullptr && by_id->id == entry.id, "a loaded ID cannot be found", entry.path);
  }
  return 0;
}
