#pragma once

#include <string_view>

#include "lib/product_version.h"

namespace vantrel {

inline constexpr std::string_view product_version = VANTREL_VERSION_TEXT;
inline constexpr std::string_view product_name = VANTREL_PRODUCT_NAME;
inline constexpr std::string_view company_name = VANTREL_COMPANY_NAME;

// The program's own name in its version line.
inline constexpr std::string_view program_id = "VantrelSetup";

}  // namespace vantrel
