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

struct Behaviour {
    std::string version{mode::version};
    std::wstring mode;
};

std::wstring environment_mode() {
    wchar_t buffer[64] = {};
    const DWORD length =
        GetEnvironmentVariableW(std::wstring(mode::mode_variable).c_str(), buffer, 64);
    return length > 0 && length < 64 ? std::wstring(buffer, length) : std::wstring();
}

// The end of this program's own file, where a release trailer would be.
std::string own_file_tail() {
    wchar_t module[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, module, MAX_PATH) == 0)
        return {};
    const HANDLE file = CreateFileW(module, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string tail(mode::trailer_search_size, '\0');
    LARGE_INTEGER size{};
    DWORD count = 0;
    if (GetFileSizeEx(file, &size)) {
        LARGE_INTEGER start{};
        start.QuadPart = size.QuadPart > LONGLONG(tail.size()) ? size.QuadPart - tail.size() : 0;
        if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
            !ReadFile(file, tail.data(), DWORD(tail.size()), &count, nullptr)) {
            count = 0;
        }
    }
    CloseHandle(file);
    tail.resize(count);
    return tail;
}

Behaviour behaviour() {
    Behaviour chosen{std::string(mode::version), environment_mode()};
    const std::string tail = own_file_tail();
    const std::size_t marker = tail.rfind(mode::trailer_marker);
    if (marker == std::string::npos || tail.back() != '\n')
        return chosen;
    const std::string fields = tail.substr(marker + mode::trailer_marker.size(),
                                           tail.size() - 1 - marker - mode::trailer_marker.size());
    const std::size_t space = fields.find(' ');
    if (space == std::string::npos)
        return chosen;
    chosen.version = fields.substr(0, space);
    const std::string trailer_mode = fields.substr(space + 1);
    if (!trailer_mode.empty())
        chosen.mode = std::wstring(trailer_mode.begin(), trailer_mode.end());
    return chosen;
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
    const Behaviour chosen = behaviour();
    const std::wstring& name = chosen.mode;
    const std::string answer = "vantrel-launcher " + chosen.version + "\r\n";

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
        write_all(STD_OUTPUT_HANDLE, "vantrel-launcher v" + chosen.version + "\r\n");
    } else if (name == mode::bare_version) {
        write_all(STD_OUTPUT_HANDLE, chosen.version + "\r\n");
    } else if (name == mode::big_stdout) {
        write_all(STD_OUTPUT_HANDLE, answer + std::string(mode::oversized_output, ' '));
    } else {
        write_all(STD_OUTPUT_HANDLE, answer);
    }
    if (name == mode::big_stderr) {
        write_all(STD_ERROR_HANDLE, std::string(mode::oversized_output, 'e'));
    }
    if (name == mode::exit_1)
        return 1;
    if (!probe && name == mode::exit_on_start)
        return 0;
    if (!probe)
        Sleep(3000);
    return 0;
}
