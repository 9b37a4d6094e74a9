// Writes synthetic log trees and documents for the benchmark.
//
//   vexlo_bench_generate tree <dir> <count> <min-bytes> <max-bytes> <seed> <now>
//   vexlo_bench_generate document <file> <bytes> <seed> <now>
//
// The content resembles what the logging daemon writes: shutdown records with
// kernel messages and process tables, and event logs with many entries, all
// nested objects and arrays with strings (escapes and non-ASCII text
// included), integers, floats, booleans and nulls, indented two spaces per
// level. Each file's "boot_timestamp" lies within the 60 days before <now>;
// one file in twenty has none, so its modification time counts.
//
// A tree puts 100 files in each leaf directory, ten leaves per host, so the
// shape of a tree grows with the file count and not with the directory size.
// The same seed and sizes give the same files: the first N files of a larger
// tree equal those of an N-file tree.

#include <array>
#include <exception>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint64_t next() {
    // xorshift64*
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  std::int64_t between(std::int64_t low, std::int64_t high) {
    return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low + 1)));
  }
  template <class T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 24> kWords = {
    "disk",    "sector", "timeout",  "reset",   "link",    "watchdog", "pstore",  "nvme",
    "journal", "mount",  "ext4",     "retry",   "device",  "queue",    "request", "failed",
    "cpu",     "stall",  "memory",   "pressure", "service", "stopped", "started", "network"};
constexpr std::array<std::string_view, 8> kOddWords = {
    "caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac", "quote\\\"d", "tab\\there", "line\\nbreak",
    "back\\\\slash", "\\u00e9t\\u00e9", "\xe2\x80\x94" "dash"};
constexpr std::array<std::string_view, 5> kLevels = {"debug", "info", "notice", "warning", "error"};
constexpr std::array<std::string_view, 6> kSources = {"orvane-rivura", "pstore",  "kernel",
                                                      "reporters",     "systemd", "retention"};
constexpr std::array<std::string_view, 5> kDirectories = {"shutdown/unsafe", "shutdown/safe", "events",
                                                          "crash/kernel", "boot"};

// Appends indented JSON; the caller writes the punctuation of containers.
class Writer {
 public:
  Writer(std::string& out, Random& random) : out_(out), random_(random) {}

  void open(char bracket) {
    out_ += bracket;
    ++depth_;
    first_ = true;
  }
  void close(char bracket) {
    --depth_;
    newline();
    out_ += bracket;
    first_ = false;
  }
  void key(std::string_view name) {
    separate();
    out_ += '"';
    out_ += name;
    out_ += "\": ";
  }
  void element() { separate(); }

  void integer(std::int64_t value) { out_ += std::to_string(value); }
  void decimal(std::int64_t hundredths) {
    if (hundredths < 0) {
      out_ += '-';
      hundredths = -hundredths;
    }
    out_ += std::to_string(hundredths / 100);
    out_ += '.';
    const std::int64_t fraction = hundredths % 100;
    if (fraction < 10) out_ += '0';
    out_ += std::to_string(fraction);
  }
  void boolean(bool value) { out_ += value ? "true" : "false"; }
  void null() { out_ += "null"; }
  void quoted(std::string_view text) {
    out_ += '"';
    out_ += text;
    out_ += '"';
  }
  // A sentence of words, now and then one with escapes or non-ASCII text.
  void sentence(int words) {
    out_ += '"';
    for (int i = 0; i < words; ++i) {
      if (i != 0) out_ += ' ';
      out_ += random_.below(12) == 0 ? random_.pick(kOddWords) : random_.pick(kWords);
    }
    out_ += '"';
  }

  std::size_t size() const { return out_.size(); }

 private:
  void separate() {
    if (!first_) out_ += ',';
    first_ = false;
    newline();
  }
  void newline() {
    out_ += '\n';
    out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
  }

  std::string& out_;
  Random& random_;
  int depth_ = 0;
  bool first_ = true;
};

void kernel_message(Writer& w, Random& r, std::int64_t uptime) {
  w.element();
  w.open('{');
  w.key("at");
  w.decimal(uptime * 100 + r.between(0, 99));
  w.key("facility");
  w.quoted("kern");
  w.key("text");
  w.sentence(static_cast<int>(r.between(4, 14)));
  if (r.below(4) == 0) {
    w.key("trace");
    w.open('[');
    for (int i = 0, n = static_cast<int>(r.between(2, 6)); i < n; ++i) {
      w.element();
      w.open('{');
      w.key("symbol");
      w.quoted(r.pick(kWords));
      w.key("offset");
      w.integer(r.between(0, 4096));
      w.key("module");
      if (r.below(2) == 0) {
        w.null();
      } else {
        w.quoted("nvme_core");
      }
      w.close('}');
    }
    w.close(']');
  }
  w.close('}');
}

void event_entry(Writer& w, Random& r, std::int64_t time) {
  w.element();
  w.open('{');
  w.key("time");
  w.integer(time);
  w.key("level");
  w.quoted(r.pick(kLevels));
  w.key("source");
  w.quoted(r.pick(kSources));
  w.key("message");
  w.sentence(static_cast<int>(r.between(3, 12)));
  w.key("fields");
  w.open('{');
  w.key("pid");
  w.integer(r.between(1, 65535));
  w.key("latency_ms");
  w.decimal(r.between(0, 500000));
  w.key("delta");
  w.integer(r.between(-1000, 1000));
  w.key("ok");
  w.boolean(r.below(3) != 0);
  w.key("retries");
  if (r.below(5) == 0) {
    w.null();
  } else {
    w.integer(r.between(0, 9));
  }
  w.key("tags");
  w.open('[');
  for (int i = 0, n = static_cast<int>(r.between(0, 4)); i < n; ++i) {
    w.element();
    w.quoted(r.pick(kWords));
  }
  w.close(']');
  w.close('}');
  w.close('}');
}

void header(Writer& w, Random& r, std::string_view type, std::int64_t boot, bool stamped) {
  if (stamped) {
    w.key("boot_timestamp");
    w.integer(boot);
  }
  w.key("type");
  w.quoted(type);
  w.key("host");
  w.quoted("atlas-" + std::to_string(r.between(1, 99)));
  w.key("kernel");
  w.open('{');
  w.key("release");
  w.quoted("6.1.0-28-amd64");
  w.key("uptime_secs");
  w.integer(r.between(10, 9000000));
  w.key("tainted");
  w.boolean(r.below(4) == 0);
  w.close('}');
  w.key("memory");
  w.open('{');
  w.key("total_kb");
  w.integer(16318212);
  w.key("available_kb");
  w.integer(r.between(100000, 16000000));
  w.key("pressure");
  w.open('{');
  w.key("some_avg10");
  w.decimal(r.between(0, 10000));
  w.key("full_avg10");
  w.decimal(r.between(0, 1000));
  w.close('}');
  w.close('}');
}

// One log document of about `target` bytes; `directory` decides its kind.
std::string log_document(Random& r, std::string_view directory, std::size_t target, std::int64_t now) {
  std::string out;
  out.reserve(target + 1024);
  Writer w(out, r);
  const std::int64_t boot = now - r.between(0, 60 * 86400);
  const bool stamped = r.below(20) != 0;
  const bool events = directory == "events" || directory == "boot";
  w.open('{');
  header(w, r, events ? "event_log" : "shutdown_record", boot, stamped);
  w.key(events ? "entries" : "messages");
  w.open('[');
  std::int64_t time = boot;
  while (w.size() < target) {
    time += r.between(0, 30);
    if (events) {
      event_entry(w, r, time);
    } else {
      kernel_message(w, r, time - boot);
    }
  }
  w.close(']');
  w.key("complete");
  w.boolean(true);
  w.close('}');
  out += '\n';
  return out;
}

bool write_whole(const std::filesystem::path& path, const std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && written;
}

int write_tree(const std::filesystem::path& root, std::int64_t count, std::int64_t min_bytes,
               std::int64_t max_bytes, std::uint64_t seed, std::int64_t now) {
  Random sizes(seed);
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t leaf = i / 100;
    const std::string_view kind = kDirectories[static_cast<std::size_t>(leaf % 5)];
    char host[32];
    char name[32];
    std::snprintf(host, sizeof host, "node-%03lld", static_cast<long long>(leaf / 10));
    std::snprintf(name, sizeof name, "log-%07lld.json", static_cast<long long>(i));
    const auto directory = root / host / kind / ("batch-" + std::to_string(leaf));
    if (i % 100 == 0) std::filesystem::create_directories(directory);
    // Each file has its own stream, so its content does not depend on the
    // sizes of the files before it.
    Random content(seed ^ (static_cast<std::uint64_t>(i) * 0xD1B54A32D192ED03ull));
    const auto target = static_cast<std::size_t>(sizes.between(min_bytes, max_bytes));
    if (!write_whole(directory / name, log_document(content, kind, target, now))) {
      std::fprintf(stderr, "cannot write %s\n", (directory / name).c_str());
      return 1;
    }
  }
  return 0;
}

int write_document(const std::filesystem::path& file, std::int64_t bytes, std::uint64_t seed, std::int64_t now) {
  Random random(seed);
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  if (!write_whole(file, log_document(random, "events", static_cast<std::size_t>(bytes), now))) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return 1;
  }
  return 0;
}

std::int64_t number(const char* text) { return std::strtoll(text, nullptr, 10); }

int usage() {
  std::fputs(
      "usage: vexlo_bench_generate tree <dir> <count> <min-bytes> <max-bytes> <seed> <now>\n"
      "       vexlo_bench_generate document <file> <bytes> <seed> <now>\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "tree" && argc == 8) {
      return write_tree(argv[2], number(argv[3]), number(argv[4]), number(argv[5]),
                        static_cast<std::uint64_t>(number(argv[6])), number(argv[7]));
    }
    if (mode == "document" && argc == 6) {
      return write_document(argv[2], number(argv[3]), static_cast<std::uint64_t>(number(argv[4])),
                            number(argv[5]));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexlo_bench_generate: %s\n", e.what());
    return 1;
  }
  return usage();
}
