#include "windows/module_path.hpp"

#include <windows.h>

#include "windows/system_error.hpp"

namespace vantrel {
namespace {

// The longest path the system gives out, terminator included.
constexpr std::size_t longest_path = 32768;

}  // namespace

IoResult<std::wstring> current_module_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return last_os_error();
        // A name that filled the buffer may have been cut short.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= longest_path)
            return os_error(ERROR_INSUFFICIENT_BUFFER);
        path.resize(path.size() * 2);
    }
}

}  // namespace vantrel
