#pragma once

#include <string_view>

namespace vantrel {

// Names of the install layout's folders and files. The layout code is their one
// owner; portable code that needs a name takes it from here.
inline constexpr std::string_view launcher_file_name = "vantrel-launcher.exe";

}  // namespace vantrel
