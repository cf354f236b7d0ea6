// Process entry: splits the command line, runs the selected role and ends the
// process with its exit code.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "entry/command_line.hpp"
#include "entry/dispatch.hpp"
#include "lib/internal_fault.hpp"
#include "windows/module_path.hpp"
#include "windows_installer/console_role.hpp"
#include "windows_installer/uninstall_request.hpp"
#include "windows_installer/uninstall_worker.hpp"
#include "windows_wizard/wizard_role.hpp"

namespace {

using vantrel::internal_fault;

constexpr vantrel::RoleTable roles{
    .wizard = vantrel::run_wizard_role,
    .console = vantrel::run_console_role,
    .uninstall_request = vantrel::run_uninstall_request,
    .uninstall_worker = vantrel::run_uninstall_worker,
};

std::vector<std::u16string> command_line_arguments() {
    const wchar_t* text = GetCommandLineW();
    if (text == nullptr || *text == L'\0') {
        const vantrel::IoResult<std::wstring> module = vantrel::current_module_path();
        const std::wstring path = module ? *module : std::wstring();
        return {std::u16string(path.begin(), path.end())};
    }
    const std::wstring_view line(text);
    return vantrel::split_command_line(std::u16string(line.begin(), line.end()));
}

void on_terminate() {
    std::string what = "unhandled exception";
    if (const std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            what += ": ";
            what += e.what();
        } catch (...) {
        }
    }
    internal_fault(what);
}

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* info) {
    char what[64];
    std::snprintf(what, sizeof what, "unhandled system exception 0x%08lx",
                  info->ExceptionRecord->ExceptionCode);
    internal_fault(what);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::set_terminate(on_terminate);
    SetUnhandledExceptionFilter(on_unhandled_exception);

    const std::vector<std::u16string> args = command_line_arguments();
    return vantrel::run_selected_role(std::span(args).subspan(1), roles);
}
