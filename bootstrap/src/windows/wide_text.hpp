#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// UTF-8 inside, UTF-16 at every Windows call.
std::wstring to_wide(std::string_view utf8);

// Text read back from Windows, cut at its first NUL; nothing when it holds an
// unpaired surrogate.
std::optional<std::string> from_wide(std::wstring_view wide);

}  // namespace vantrel
