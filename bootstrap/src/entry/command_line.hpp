#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Splits a Windows command line into the program name and the arguments, with the
// quoting and backslash rules programs built with the Microsoft runtime follow.
// Arguments keep their exact UTF-16 units, unpaired surrogates included.
std::vector<std::u16string> split_command_line(std::u16string_view text);

}  // namespace vantrel
