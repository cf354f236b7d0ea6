#pragma once

#include <string_view>

namespace vantrel {

// Writes bytes unchanged (no line-end translation) to the process's standard
// output or error. Returns false when the handle is missing or the write fails.
bool write_standard_output(std::string_view bytes);
bool write_standard_error(std::string_view bytes);

}  // namespace vantrel
