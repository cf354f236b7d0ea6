#include "windows/module_path.hpp"

#include <windows.h>

namespace vantrel {

std::wstring current_module_path() {
    // Long paths can exceed MAX_PATH; grow until the name fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}

}  // namespace vantrel
