#pragma once

#include <string>

namespace vantrel {

// The full path of the running executable, as Windows gives it.
std::wstring current_module_path();

}  // namespace vantrel
