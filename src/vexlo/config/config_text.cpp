#include "vexlo/config/config_text.h"

#include <cerrno>

#include "vexlo/common/out_of_memory.h"
#include "vexlo/config/config_error.h"
#include "vexlo/config/config_mapping.h"
#include "vexlo/config/toml_document.h"
#include "vexlo/os/file_system.h"

namespace vexlo::config {

std::expected<Config, std::string> parse_config_text(std::string_view text) {
  const std::string_view shown = without_byte_order_mark(text);
  const auto parse = [&]() -> std::expected<Config, std::string> {
    auto document = parse_toml(text);
    if (!document) return std::unexpected(render_config_error(shown, document.error()));
    auto mapped = map_config(*document);
    if (!mapped) return std::unexpected(render_config_error(shown, mapped.error()));
    return std::move(*mapped);
  };
  // A file too large for the memory left could not be taken in: the caller
  // goes on with the defaults (see common/out_of_memory.h).
  return within_memory(parse, [] { return std::unexpected(os::error_text(ENOMEM) + "\n"); });
}

}  // namespace vexlo::config
