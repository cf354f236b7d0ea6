#pragma once

#include <string_view>

#include "lib/manifest.hpp"
#include "lib/result.hpp"

namespace vantrel {

// Deepest nesting of arrays and objects the manifest reader follows.
inline constexpr std::size_t json_depth_limit = 128;

// Reads a manifest document into the record, checking its JSON syntax and
// shape but not its values. A failure has stage Manifest and a detail that ends
// with " at line L column C".
Result<Manifest> read_manifest_json(std::string_view text);

}  // namespace vantrel
