#include "windows/system_error.hpp"

#include <windows.h>

#include <array>

#include "lib/system_error_text.hpp"

namespace vantrel {

std::string system_error_text(std::uint32_t code) {
    std::array<wchar_t, 2048> buffer{};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), nullptr);
    SystemMessageLookup lookup;
    if (length == 0) {
        lookup.lookup_error = GetLastError();
    } else {
        lookup.text = std::u16string(buffer.begin(), buffer.begin() + length);
    }
    return compose_system_error_text(code, lookup);
}

IoError os_error(std::uint32_t code) { return IoError::from_system_text(system_error_text(code)); }

IoError last_os_error() { return os_error(GetLastError()); }

}  // namespace vantrel
