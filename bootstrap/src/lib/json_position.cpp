#include "lib/json_position.hpp"

#include <algorithm>

namespace vantrel {

TextPosition text_position(std::string_view text, std::size_t index) {
    const std::string_view before = text.substr(0, index);
    const std::size_t line_breaks =
        static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t last_break = before.rfind('\n');
    const std::size_t line_start = last_break == std::string_view::npos ? 0 : last_break + 1;
    return {line_breaks + 1, std::min(index, text.size()) - line_start + 1};
}

std::string located(std::string_view description, std::string_view text, std::size_t index) {
    const TextPosition position = text_position(text, index);
    std::string out(description);
    out += " at line ";
    out += std::to_string(position.line);
    out += " column ";
    out += std::to_string(position.column);
    return out;
}

}  // namespace vantrel
