#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vantrel {

// Strict decoding of standard base64 (RFC 4648 alphabet, "=" padding required,
// unused trailing bits zero). Nothing on any deviation.
std::optional<std::vector<std::uint8_t>> decode_base64(std::string_view text);

}  // namespace vantrel
