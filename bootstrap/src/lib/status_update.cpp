#include "lib/status_update.hpp"

namespace vantrel {
namespace {

bool starts_character(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

}  // namespace

std::string cut_status_text(std::string_view text) {
    std::size_t characters = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (!starts_character(text[index]))
            continue;
        if (characters == status_text_limit)
            return std::string(text.substr(0, index));
        ++characters;
    }
    return std::string(text);
}

std::string status_line(std::string_view text, std::optional<std::uint32_t> percent) {
    std::string line(text);
    if (percent) {
        line += " (";
        line += std::to_string(*percent);
        line += "%)";
    }
    return line;
}

}  // namespace vantrel
