#include "vexlo/config/config_text.h"

#include <exception>

#include "vexlo/config/config_error.h"
#include "vexlo/config/config_mapping.h"
#include "vexlo/config/toml_document.h"

namespace vexlo::config {

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

}  // namespace vexlo::config
