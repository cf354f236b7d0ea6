#pragma once

#include <cstdint>
#include <string_view>

#include "lib/bytes.hpp"

namespace vantrel {

// What a launcher prints for --version before its version text.
inline constexpr std::string_view launcher_answer_prefix = "vantrel-launcher ";

// True when the probed launcher exited with 0 and its output, decoded as UTF-8
// (invalid sequences replaced by U+FFFD) and stripped of surrounding white space,
// is exactly the prefix followed by version.
bool version_answer_matches(ByteView output, std::uint32_t exit_code, std::string_view version);

}  // namespace vantrel
