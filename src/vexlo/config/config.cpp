#include "vexlo/config/config.h"

#include "vexlo/config/config_text.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

Config default_config() { return Config{}; }

Config load_config(const std::string& path, std::ostream& out) {
  // Any file that cannot be read as text leaves the defaults, silently.
  const auto text = os::read_text_file(path);
  if (!text) return default_config();
  auto config = config::parse_config_text(*text);
  if (config) return std::move(*config);
  out << "parse config error: " << config.error() << "\n";
  return default_config();
}

}  // namespace vexlo
