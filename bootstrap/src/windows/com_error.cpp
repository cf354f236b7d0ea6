#include "windows/com_error.hpp"

#include <cstdint>

namespace vantrel {

std::string com_failure_text(std::string_view message, HRESULT code) {
    constexpr std::string_view digits = "0123456789abcdef";
    const auto bits = static_cast<std::uint32_t>(code);
    std::string text(message);
    text += " (Windows error 0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(bits >> shift) & 0xFu];
    text += ").";
    return text;
}

}  // namespace vantrel
