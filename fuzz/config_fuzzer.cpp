// Configuration loading with the input as the whole configuration file. The
// result is always a complete configuration: either what the file sets, or,
// after exactly one well-formed "parse config error: " report, the defaults
// in full. A file that is not UTF-8 gives the defaults silently.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "testing/config_message.h"
#include "vexlo/common/utf8.h"
#include "vexlo/config/config.h"

namespace {

using vexlo::fuzz::require;

const std::string& config_path() {
  static const std::string path = vexlo::fuzz::make_scratch_directory() + "/vexlo.toml";
  return path;
}

void write_config(std::string_view text) {
  std::ofstream file(config_path(), std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  require(static_cast<bool>(file.flush()), "cannot write the configuration file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  write_config(text);

  std::ostringstream out;
  const vexlo::Config config = vexlo::load_config(config_path(), out);
  const std::string report = out.str();

  if (!vexlo::is_valid_utf8(text)) {
    require(report.empty(), "a file that is not UTF-8 was reported", report);
    require(config == vexlo::default_config(), "a file that is not UTF-8 changed the configuration");
    return 0;
  }
  if (!report.empty()) {
    const std::string problem = vexlo::testing::check_config_message(report, text);
    require(problem.empty(), problem, report);
    require(config == vexlo::default_config(), "a rejected file left values of its own");
  }

  // Loading is deterministic: the same file gives the same report again.
  std::ostringstream again;
  (void)vexlo::load_config(config_path(), again);
  require(again.str() == report, "a second load reports differently", again.str());
  return 0;
}
