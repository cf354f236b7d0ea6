#include "windows_installer/registry_string.hpp"

#include <cstdint>
#include <optional>

#include "lib/utf.hpp"
#include "windows/system_error.hpp"
#include "windows/wide_text.hpp"

namespace vantrel {

Result<std::string> read_registry_string(const RegistryKey& key, std::string_view name) {
    std::u16string buffer(registry_string_buffer_bytes / sizeof(char16_t), u'\0');
    DWORD type = REG_NONE;
    DWORD bytes = registry_string_buffer_bytes;
    const LSTATUS status = RegQueryValueExW(key.get(), to_wide(name).c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (status != ERROR_SUCCESS)
        return Error::from_io(Stage::Installation, os_error(static_cast<std::uint32_t>(status)));

    const std::size_t units = bytes / sizeof(char16_t);
    if (type != REG_SZ || bytes <= 1 || bytes % sizeof(char16_t) != 0 || buffer[units - 1] != u'\0')
        return Error::from_text(Stage::Installation, invalid_registration_message);
    std::optional<std::string> text =
        utf16_to_utf8(std::u16string_view(buffer).substr(0, units - 1));
    if (!text)
        return Error::from_text(Stage::Installation, lone_surrogate_message);
    return std::move(*text);
}

}  // namespace vantrel
