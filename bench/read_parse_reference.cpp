// The reference for a first run: a bare program that walks a log tree on
// one thread, reads each JSON file once into one reused buffer and parses
// it with simdjson's DOM parser, taking its "boot_timestamp". It prints the
// number of files parsed and the sum of their times, so that no step can be
// left out. No database, no cache, no path conversion, no sorting.
//
//   vexlo_bench_reference <log root>

#include <fcntl.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

bool read_into(const std::string& path, std::string& buffer) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat sb;
  if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
    ::close(fd);
    return false;
  }
  buffer.resize(static_cast<std::size_t>(sb.st_size) + simdjson::SIMDJSON_PADDING);
  std::size_t filled = 0;
  while (filled < static_cast<std::size_t>(sb.st_size)) {
    const ssize_t got = ::read(fd, buffer.data() + filled, static_cast<std::size_t>(sb.st_size) - filled);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  buffer.resize(filled + simdjson::SIMDJSON_PADDING);
  buffer.resize(filled);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <log root>\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  simdjson::dom::parser parser;
  std::string buffer;
  std::uint64_t files = 0;
  std::int64_t sum = 0;
  std::error_code error;
  fs::recursive_directory_iterator it(argv[1], fs::directory_options::follow_directory_symlink, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::path& path = it->path();
    if (it->is_directory() && path.filename() == ".config") {
      it.disable_recursion_pending();
      continue;
    }
    if (path.extension() != ".json" || !it->is_regular_file()) continue;
    if (!read_into(path.string(), buffer)) continue;
    simdjson::dom::element document;
    if (parser.parse(buffer.data(), buffer.size(), false).get(document)) continue;
    ++files;
    std::int64_t time = 0;
    if (!document["boot_timestamp"].get_int64().get(time)) sum += time;
  }
  std::printf("%llu files, sum of times %lld\n", static_cast<unsigned long long>(files), static_cast<long long>(sum));
  return 0;
}
