#pragma once

#include <string_view>

namespace vantrel {

// Fixed when the program is built (see cmake/build_settings.cmake).
std::string_view download_host();
std::string_view built_in_release_key();

}  // namespace vantrel
