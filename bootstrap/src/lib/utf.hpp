#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lib/error.hpp"

namespace vantrel {

// The first invalid or incomplete UTF-8 sequence in bytes, if any. The length of an
// invalid sequence is the longest prefix that could have begun a valid one.
std::optional<Utf8Failure> find_invalid_utf8(std::string_view bytes);

// UTF-8 to UTF-16; the input must be valid UTF-8 (invalid bytes become U+FFFD).
std::u16string utf8_to_utf16(std::string_view utf8);

// UTF-16 to UTF-8, or nothing when the text holds an unpaired surrogate.
std::optional<std::string> utf16_to_utf8(std::u16string_view utf16);

}  // namespace vantrel
