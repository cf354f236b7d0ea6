#include "lib/system_error_text.hpp"

#include "lib/utf.hpp"

namespace vantrel {
namespace {

bool is_trailing_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string message_text(std::uint32_t code, const SystemMessageLookup& lookup) {
    const std::string os_error = "OS Error " + std::to_string(code);
    if (!lookup.text) {
        return os_error + " (FormatMessageW() returned error " +
               std::to_string(lookup.lookup_error) + ")";
    }
    std::optional<std::string> text = utf16_to_utf8(*lookup.text);
    if (!text)
        return os_error + " (FormatMessageW() returned invalid UTF-16)";
    while (!text->empty() && is_trailing_blank(text->back()))
        text->pop_back();
    return std::move(*text);
}

}  // namespace

std::string compose_system_error_text(std::uint32_t code, const SystemMessageLookup& lookup) {
    return message_text(code, lookup) + " (os error " + std::to_string(code) + ")";
}

}  // namespace vantrel
