#include "vexlo/config/config.h"

#include <exception>

#include "vexlo/config/config_mapping.h"
#include "vexlo/config/config_text.h"
#include "vexlo/config/toml_document.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

namespace config {

std::expected<Config, std::string> parse_config_text(std::string_view text) {
  const std::string_view shown = without_byte_order_mark(text);
  try {
    auto document = parse_toml(text);
    if (!document) return std::unexpected(render_config_error(shown, document.error()));
    auto mapped = map_config(*document);
    if (!mapped) return std::unexpected(render_config_error(shown, mapped.error()));
    return std::move(*mapped);
  } catch (const std::exception& error) {
    // Running out of memory on a huge file: the file could not be taken,
    // and the caller goes on with the defaults.
    return std::unexpected(std::string(error.what()) + "\n");
  }
}

}  // namespace config

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
