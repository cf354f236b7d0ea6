#include "windows/system_error.hpp"

#include <array>

#include "lib/system_error_text.hpp"

namespace vantrel {

std::string system_error_text(std::uint32_t code, HMODULE message_module) {
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (message_module != nullptr)
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
    std::array<wchar_t, 2048> buffer{};
    const DWORD length = FormatMessageW(flags, message_module, code, 0, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), nullptr);
    SystemMessageLookup lookup;
    if (length == 0) {
        lookup.lookup_error = GetLastError();
    } else {
        lookup.text = std::u16string(buffer.begin(), buffer.begin() + length);
    }
    return compose_system_error_text(code, lookup);
}

std::string system_error_text(std::uint32_t code) {
    return system_error_text(code, nullptr);
}

IoError os_error(std::uint32_t code) {
    return IoError::from_system_text(system_error_text(code));
}

IoError last_os_error() {
    return os_error(GetLastError());
}

}  // namespace vantrel
