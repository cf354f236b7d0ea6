#include "windows_installer/uninstall_system.hpp"

#include <windows.h>

#include <shlobj.h>

#include "lib/role_options.hpp"
#include "windows/install_layout.hpp"
#include "windows/module_path.hpp"
#include "windows/path_safety.hpp"
#include "windows/system_error.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/apps_entry.hpp"

namespace vantrel {
namespace {

bool is_absent(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

}  // namespace

IoStatus start_uninstall_worker(const std::wstring& worker) {
    std::wstring command_line = L"\"" + worker + L"\" " + to_wide(uninstall_worker_option);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(worker.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started)) {
        return last_os_error();
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return {};
}

Result<std::optional<UniqueHandle>> open_exclusive(const std::wstring& path) {
    if (Status safe = ensure_no_links(path); !safe)
        return std::move(safe).error();
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (is_absent(code))
            return std::optional<UniqueHandle>();
        return Error::from_io(Stage::Installation, os_error(code));
    }
    return std::optional<UniqueHandle>(std::move(file));
}

Status remove_if_present(const std::wstring& path) {
    if (Status safe = ensure_no_links(path); !safe)
        return safe;
    if (DeleteFileW(path.c_str()))
        return {};
    const DWORD code = GetLastError();
    if (is_absent(code))
        return {};
    return Error::from_io(Stage::Installation, os_error(code));
}

UninstallSystem real_uninstall_system() {
    return {
        .running_executable = current_module_path,
        .temporary_folder = [] { return vantrel::temporary_folder(); },
        .desktop_folder =
            [] { return known_folder(FOLDERID_Desktop, layout::desktop_display_name); },
        .programs_folder =
            [] { return known_folder(FOLDERID_Programs, layout::programs_display_name); },
        .start_worker = start_uninstall_worker,
        .now = [] { return UninstallSystem::Clock::now(); },
        .pause = [](std::chrono::milliseconds pause) { Sleep(DWORD(pause.count())); },
        .remove_file = remove_if_present,
        .remove_entry = [](const std::wstring& product) { return remove_apps_entry(product); },
        .before_step = [](int) {},
    };
}

}  // namespace vantrel
