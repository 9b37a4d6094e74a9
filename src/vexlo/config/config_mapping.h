#pragma once
// Maps a parsed document onto the configuration records. Keys of a table
// are visited in ascending byte order and a nested table is mapped whole
// when its key is visited, so the error reported is the first in that
// order. Keys outside the schema are skipped whatever they hold; fields the
// file does not set keep their defaults.

#include <toml++/toml.h>

#include "vexlo/config/config.h"
#include "vexlo/config/value_conversion.h"

namespace vexlo::config {

Converted<Config> map_config(const toml::table& root);

}  // namespace vexlo::config
