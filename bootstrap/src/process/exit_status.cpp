#include "process/exit_status.hpp"

#include <cstdio>

namespace vantrel {

std::string exit_status_text(std::uint32_t code) {
    constexpr std::uint32_t highest_bit = 0x80000000u;
    char digits[16];
    if (code & highest_bit) {
        std::snprintf(digits, sizeof digits, "0x%08x", static_cast<unsigned>(code));
    } else {
        std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(code));
    }
    return std::string("exit code: ") + digits;
}

}  // namespace vantrel
