#include "windows/console_streams.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

#include "lib/standard_streams.hpp"
#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

// Consoles refuse very large wide writes; texts go in pieces of this many units.
constexpr std::size_t console_write_units = 8192;
// The longest pipe name the terminal test reads, in UTF-16 units.
constexpr std::size_t pipe_name_units = 260;

bool valid(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return valid(handle) && GetConsoleMode(handle, &mode);
}

void write_console(HANDLE console, std::wstring_view text) {
    while (!text.empty()) {
        std::size_t units = std::min(text.size(), console_write_units);
        // A surrogate pair split over two writes would show as two bad characters.
        if (units < text.size() && IS_HIGH_SURROGATE(text[units - 1]))
            --units;
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(units), &written, nullptr) ||
            written == 0) {
            return;
        }
        text.remove_prefix(std::min<std::size_t>(written, text.size()));
    }
}

void write_standard(StandardStreamId id, std::string_view utf8) {
    const HANDLE handle =
        GetStdHandle(id == StandardStreamId::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (is_console(handle) && GetConsoleOutputCP() != CP_UTF8) {
        write_console(handle, to_wide(utf8));
        return;
    }
    // Write failures are not reported: the run's outcome does not depend on its output.
    const auto write_bytes =
        id == StandardStreamId::Output ? write_standard_output : write_standard_error;
    write_bytes(utf8);
}

std::optional<std::string> pipe_name(HANDLE pipe) {
    constexpr DWORD size = offsetof(FILE_NAME_INFO, FileName) + pipe_name_units * sizeof(WCHAR);
    alignas(FILE_NAME_INFO) std::array<std::byte, size> buffer{};
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!GetFileInformationByHandleEx(pipe, FileNameInfo, info, size))
        return std::nullopt;
    const std::size_t units =
        std::min<std::size_t>(info->FileNameLength / sizeof(WCHAR), pipe_name_units);
    return from_wide(std::wstring_view(info->FileName, units));
}

// A console in line mode ends the line with CR LF; one without it sends a lone CR.
void read_console_line(HANDLE console) {
    std::array<wchar_t, 256> buffer;
    DWORD count = 0;
    while (
        ReadConsoleW(console, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr) &&
        count > 0) {
        const std::wstring_view read(buffer.data(), count);
        if (read.find_first_of(L"\r\n") != std::wstring_view::npos)
            return;
    }
}

// Byte by byte, so that nothing after the line is taken from the stream.
void read_byte_line(HANDLE input) {
    char byte = 0;
    DWORD count = 0;
    while (ReadFile(input, &byte, 1, &count, nullptr) && count == 1) {
        if (byte == '\n')
            return;
    }
}

}  // namespace

void StandardStream::write(std::string_view utf8) {
    pending_ += utf8;
    if (id_ == StandardStreamId::Error || utf8.find('\n') != std::string_view::npos)
        flush();
}

void StandardStream::flush() {
    if (pending_.empty())
        return;
    write_standard(id_, pending_);
    pending_.clear();
}

bool StandardInput::is_terminal() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!valid(input))
        return false;
    if (is_console(input))
        return true;
    if (GetFileType(input) != FILE_TYPE_PIPE)
        return false;
    const std::optional<std::string> name = pipe_name(input);
    return name && is_terminal_pipe_name(*name);
}

void StandardInput::read_line() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!valid(input))
        return;
    if (is_console(input)) {
        read_console_line(input);
    } else {
        read_byte_line(input);
    }
}

}  // namespace vantrel
