#pragma once

#include <string>

#include "lib/result.hpp"

namespace vantrel {

// The full path of the running executable (GetModuleFileNameW); its failure is the
// system's error.
IoResult<std::wstring> current_module_path();

}  // namespace vantrel
