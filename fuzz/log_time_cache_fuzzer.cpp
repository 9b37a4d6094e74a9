// The log time cache file with the input as its content: loading must take
// it or refuse it without harm. The input also makes a cache, whose file
// must load back as the same cache.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "vexlo/db/log_time_cache_file.h"

namespace {

using vexlo::fuzz::require;

// Takes fixed-width values from the front of the input, zeros once it is
// used up.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
  bool empty() const { return rest_.empty(); }
  std::uint64_t u64() {
    std::uint64_t value = 0;
    const std::size_t n = std::min<std::size_t>(8, rest_.size());
    std::memcpy(&value, rest_.data(), n);
    rest_.remove_prefix(n);
    return value;
  }
  std::string text() {
    const std::size_t n = std::min<std::size_t>(u64() % 64 + 1, rest_.size());
    std::string value(rest_.substr(0, n));
    rest_.remove_prefix(n);
    return value.empty() ? "/" : value;
  }

 private:
  std::string_view rest_;
};

vexlo::LogTimeCache cache_from(Input& in) {
  std::vector<vexlo::LogTimeCache::Record> records;
  const vexlo::os::Timestamp scanned_at{static_cast<std::int64_t>(in.u64()),
                                        static_cast<std::int64_t>(in.u64() % 1000000000)};
  while (!in.empty() && records.size() < 1000) {
    vexlo::LogTimeCache::Record record;
    record.path = in.text();
    record.identity.device = in.u64();
    record.identity.inode = in.u64();
    record.identity.size = in.u64();
    const std::uint64_t flags = in.u64();
    if (flags & 1) record.identity.modified = static_cast<std::int64_t>(in.u64());
    record.identity.modified_nsec = static_cast<std::int64_t>(in.u64() % 1000000000);
    record.identity.changed = static_cast<std::int64_t>(in.u64());
    record.identity.changed_nsec = static_cast<std::int64_t>(in.u64() % 1000000000);
    if (flags & 2) record.time = static_cast<std::int64_t>(in.u64());
    records.push_back(std::move(record));
  }
  return vexlo::LogTimeCache::restore(std::move(records), scanned_at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const auto loaded = vexlo::decode_log_time_cache(raw);
  if (loaded) require(vexlo::encode_log_time_cache(*loaded) == raw, "a cache that loads is written back the same");
  // Read in pieces of any size, a file loads or not alike.
  const std::size_t piece = 1 + size % 61;
  require(vexlo::decode_log_time_cache(raw, piece).has_value() == loaded.has_value(), "the pieces change the load");

  Input in(data, size);
  const vexlo::LogTimeCache made = cache_from(in);
  const std::string file = vexlo::encode_log_time_cache(made);
  const auto reloaded = vexlo::decode_log_time_cache(file);
  require(reloaded.has_value(), "a written cache loads");
  require(reloaded->scanned_at() == made.scanned_at(), "the scan's start survives");
  const auto made_records = made.records();
  const auto reloaded_records = reloaded->records();
  require(reloaded_records.size() == made_records.size(), "every entry survives");
  for (std::size_t i = 0; i < made_records.size(); ++i) {
    const auto& a = made_records[i];
    const auto& b = reloaded_records[i];
    require(a.path == b.path && a.identity == b.identity && a.time == b.time, "an entry changed", a.path);
  }
  return 0;
}
