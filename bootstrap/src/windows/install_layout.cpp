#include "windows/install_layout.hpp"

#include <windows.h>

#include <shlobj.h>

#include <string>

#include "windows/system_error.hpp"

namespace vantrel {
namespace {

using GetTempPath2Function = DWORD(WINAPI*)(DWORD length, LPWSTR buffer);

// Newer systems have GetTempPath2W (Wine 8 does not); it gives SYSTEM processes a
// private folder and is otherwise the same as GetTempPathW.
GetTempPath2Function get_temp_path_2() {
    static const GetTempPath2Function function = []() -> GetTempPath2Function {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        if (kernel == nullptr)
            return nullptr;
        const FARPROC address = GetProcAddress(kernel, "GetTempPath2W");
        if (address == nullptr)
            return nullptr;
        return reinterpret_cast<GetTempPath2Function>(reinterpret_cast<void (*)()>(address));
    }();
    return function;
}

bool ends_in_separator(std::wstring_view path) {
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

}  // namespace

std::wstring join_path(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    if (!path.empty() && !ends_in_separator(path))
        path += L'\\';
    path += name;
    return path;
}

Result<std::wstring> known_folder(const KNOWNFOLDERID& id, std::string_view name) {
    PWSTR folder = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &folder);
    // The buffer is the caller's to free whether or not the call succeeded.
    std::wstring path = SUCCEEDED(result) && folder != nullptr ? std::wstring(folder) : L"";
    CoTaskMemFree(folder);
    if (!SUCCEEDED(result) || path.empty()) {
        return Error::from_composed(
            Stage::Installation, "Windows could not find your " + std::string(name) + " folder.");
    }
    return path;
}

Result<std::wstring> product_folder() {
    auto local = known_folder(FOLDERID_LocalAppData, layout::local_app_data_display_name);
    if (!local)
        return std::move(local).error();
    return join_path(*local, layout::product_folder_name);
}

Result<std::wstring> launcher_folder() {
    auto product = product_folder();
    if (!product)
        return std::move(product).error();
    return join_path(*product, layout::launcher_folder_name);
}

IoResult<std::wstring> temporary_folder() {
    const GetTempPath2Function get_temp_path = get_temp_path_2();
    // The documented maximum, terminator included.
    std::wstring buffer(MAX_PATH + 1, L'\0');
    const DWORD length = get_temp_path != nullptr
                             ? get_temp_path(DWORD(buffer.size()), buffer.data())
                             : GetTempPathW(DWORD(buffer.size()), buffer.data());
    if (length == 0)
        return last_os_error();
    if (length > buffer.size())
        return os_error(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(length);
    return buffer;
}

}  // namespace vantrel
