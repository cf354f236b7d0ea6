#include "windows/wide_text.hpp"

#include "lib/utf.hpp"

namespace vantrel {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

std::wstring to_wide(std::string_view utf8) {
    const std::u16string utf16 = utf8_to_utf16(utf8);
    return std::wstring(utf16.begin(), utf16.end());
}

std::optional<std::string> from_wide(std::wstring_view wide) {
    const std::size_t nul = wide.find(L'\0');
    if (nul != std::wstring_view::npos)
        wide = wide.substr(0, nul);
    return utf16_to_utf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace vantrel
