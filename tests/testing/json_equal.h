#pragma once
// Comparing two parsed JSON values, for tests and fuzz targets that read
// back what the tool wrote.

#include "vexlo/json/json.h"

namespace vexlo::testing {

// Whether two values hold the same: the same kind, equal strings and
// integers, floats with the same bits, arrays with equal elements and
// objects with equal names and values.
bool json_equal(json::Value a, json::Value b);

}  // namespace vexlo::testing
