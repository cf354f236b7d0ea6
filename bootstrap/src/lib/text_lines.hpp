#pragma once

#include <string_view>
#include <vector>

namespace vantrel {

// Lines of a key or signature text: a line ends at a line feed, a carriage return
// right before it belongs to the line end, and text after the last line feed is a
// last line.
std::vector<std::string_view> split_lines(std::string_view text);

}  // namespace vantrel
