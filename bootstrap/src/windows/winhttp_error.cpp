#include "windows/winhttp_error.hpp"

#include <windows.h>

#include "windows/system_error.hpp"

namespace vantrel {

std::string winhttp_error_text(std::uint32_t code) {
    // winhttp.dll is loaded already: this program links it.
    return system_error_text(code, GetModuleHandleW(L"winhttp.dll"));
}

IoError last_winhttp_error() {
    const DWORD code = GetLastError();
    return IoError::from_system_text(winhttp_error_text(code));
}

}  // namespace vantrel
