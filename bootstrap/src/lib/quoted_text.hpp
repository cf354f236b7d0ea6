#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// The text in double quotes with quotes, backslashes and control characters
// escaped, as diagnostics and error descriptions show a value.
std::string quoted_text(std::string_view text);

}  // namespace vantrel
