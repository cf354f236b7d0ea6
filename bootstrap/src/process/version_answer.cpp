#include "process/version_answer.hpp"

#include <optional>
#include <string>

#include "lib/utf.hpp"

namespace vantrel {
namespace {

// Unicode's White_Space characters; all of them lie in the basic plane.
bool is_white_space(char16_t c) {
    return (c >= 0x0009 && c <= 0x000D) || c == 0x0020 || c == 0x0085 || c == 0x00A0 ||
           c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && is_white_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_white_space(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

bool version_answer_matches(ByteView output, std::uint32_t exit_code, std::string_view version) {
    if (exit_code != 0)
        return false;
    const std::u16string decoded = utf8_to_utf16(as_text(output));
    // Decoding pairs every surrogate, so the way back always succeeds.
    const std::optional<std::string> answer = utf16_to_utf8(trimmed(decoded));
    return answer && *answer == std::string(launcher_answer_prefix) + std::string(version);
}

}  // namespace vantrel
