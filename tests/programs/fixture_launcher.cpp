// Stands in for the launcher in the process-control tests. Its behaviour is chosen
// by the environment variable named in fixture_launcher_modes.hpp.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fixture_launcher_modes.hpp"

namespace mode = vantrel::testing::fixture_launcher;

namespace {

// Straight to the handle: the C runtime's buffering would hide how much was written.
void write_all(DWORD which, std::string_view bytes) {
    const HANDLE handle = GetStdHandle(which);
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), DWORD(bytes.size()), &written, nullptr))
            return;
        bytes.remove_prefix(written);
    }
}

std::string answer_text() {
    return "vantrel-launcher " + std::string(mode::version) + "\r\n";
}

std::wstring mode_name() {
    wchar_t buffer[64] = {};
    const DWORD length =
        GetEnvironmentVariableW(std::wstring(mode::mode_variable).c_str(), buffer, 64);
    return length > 0 && length < 64 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring folder_of(std::wstring path) {
    while (!path.empty() && path.back() != L'\\')
        path.pop_back();
    if (path.size() > 3)
        path.pop_back();  // keep "C:\" whole
    return path;
}

// Why this start is not the one the tests expect, or nothing when it is.
std::string start_problem(int argc, wchar_t** argv) {
    const bool probe = argc == 2 && std::wstring_view(argv[1]) == L"--version";
    if (!probe && argc != 1)
        return "unexpected arguments";

    wchar_t module[MAX_PATH] = {};
    wchar_t current[MAX_PATH] = {};
    const DWORD module_length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    const DWORD current_length = GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring current_folder(current, current_length);
    if (current_folder.size() > 3 && current_folder.back() == L'\\')
        current_folder.pop_back();
    if (CompareStringOrdinal(folder_of(std::wstring(module, module_length)).c_str(), -1,
                             current_folder.c_str(), -1, TRUE) != CSTR_EQUAL) {
        return "not started in its own folder";
    }
    return {};
}

LONG WINAPI end_with_exception_code(EXCEPTION_POINTERS*) {
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void crash_now() {
    // Ends the process with the exception's code, as an unhandled crash does, but
    // without starting a crash reporter or debugger that would hold it alive.
    SetUnhandledExceptionFilter(end_with_exception_code);
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
    ExitProcess(0);
}

// Counted from the creation of the process: under Wine, starting one can take a
// good part of a second before wmain runs.
void sleep_until_after_start(DWORD milliseconds) {
    FILETIME created{};
    FILETIME ignored{};
    FILETIME now{};
    GetProcessTimes(GetCurrentProcess(), &created, &ignored, &ignored, &ignored);
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    const std::uint64_t elapsed = (ticks(now) - ticks(created)) / 10000;  // 100 ns ticks
    if (elapsed < milliseconds)
        Sleep(DWORD(milliseconds - elapsed));
}

[[noreturn]] void flood(DWORD which) {
    const std::string block(1024, 'x');
    for (;;) {
        write_all(which, block);
        Sleep(1);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (const std::string problem = start_problem(argc, argv); !problem.empty()) {
        write_all(STD_ERROR_HANDLE, problem + "\r\n");
        return mode::wrong_start_exit_code;
    }
    const bool probe = argc == 2;
    const std::wstring name = mode_name();

    if (name == mode::crash)
        crash_now();
    if (name == mode::hang)
        Sleep(INFINITE);
    if (name == mode::flood_stdout)
        flood(STD_OUTPUT_HANDLE);
    if (name == mode::flood_stderr)
        flood(STD_ERROR_HANDLE);
    if (name == mode::half_second) {
        sleep_until_after_start(500);
        return 0;
    }
    if (name == mode::read_input) {
        char buffer[256];
        DWORD count = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &count, nullptr) &&
               count > 0) {
        }
    }
    if (name == mode::leading_v) {
        write_all(STD_OUTPUT_HANDLE, "vantrel-launcher v" + std::string(mode::version) + "\r\n");
    } else if (name == mode::bare_version) {
        write_all(STD_OUTPUT_HANDLE, std::string(mode::version) + "\r\n");
    } else if (name == mode::big_stdout) {
        write_all(STD_OUTPUT_HANDLE, answer_text() + std::string(mode::oversized_output, ' '));
    } else {
        write_all(STD_OUTPUT_HANDLE, answer_text());
    }
    if (name == mode::big_stderr) {
        write_all(STD_ERROR_HANDLE, std::string(mode::oversized_output, 'e'));
    }
    if (name == mode::exit_1)
        return 1;
    if (!probe)
        Sleep(3000);
    return 0;
}
