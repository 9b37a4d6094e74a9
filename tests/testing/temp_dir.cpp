#include "testing/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vexlo::testing {

ScopedTempDir::ScopedTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vexlo-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() { remove_tree(path_); }

std::string ScopedTempDir::operator/(std::string_view relative) const {
  return path_ + "/" + std::string(relative);
}

void make_dirs(const std::string& path) { std::filesystem::create_directories(path); }

void write_file(const std::string& path, std::string_view content, std::optional<std::int64_t> mtime) {
  const auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) throw std::runtime_error("cannot write " + path);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  if (mtime) {
    struct timespec times[2];
    times[0].tv_sec = *mtime;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("utimensat failed");
  }
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::vector<std::string> directory_names(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) throw std::runtime_error("cannot list " + path);
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

std::vector<std::string> names_in(const std::string& path) {
  std::vector<std::string> names = directory_names(path);
  std::sort(names.begin(), names.end());
  return names;
}

void remove_tree(const std::string& path) {
  std::error_code ec;
  // Restore permissions that a test took away, so that removal can proceed.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  ::chmod(path.c_str(), 0755);
  std::filesystem::remove_all(path, ec);
}

}  // namespace vexlo::testing
