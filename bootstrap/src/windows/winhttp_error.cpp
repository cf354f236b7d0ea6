#include "windows/winhttp_error.hpp"

#include <windows.h>

#include <array>

#include "lib/system_error_text.hpp"

namespace vantrel {

std::string winhttp_error_text(std::uint32_t code) {
    // winhttp.dll is loaded already: this program links it.
    const HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (winhttp != nullptr)
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
    std::array<wchar_t, 2048> buffer{};
    const DWORD length = FormatMessageW(flags, winhttp, code, 0, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), nullptr);
    SystemMessageLookup lookup;
    if (length == 0) {
        lookup.lookup_error = GetLastError();
    } else {
        lookup.text = std::u16string(buffer.begin(), buffer.begin() + length);
    }
    return compose_system_error_text(code, lookup);
}

IoError last_winhttp_error() {
    const DWORD code = GetLastError();
    return IoError::from_system_text(winhttp_error_text(code));
}

}  // namespace vantrel
