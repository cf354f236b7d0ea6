#include "support/windows_test_support.hpp"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vantrel::testing {

namespace {

std::wstring windows_path_under(std::string unix_path, std::string_view relative) {
    unix_path += '/';
    unix_path += relative;
    std::wstring path = L"Z:";
    for (const char c : unix_path)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

}  // namespace

std::wstring windows_path_of_build_file(std::string_view relative) {
    return windows_path_under(VANTREL_BINARY_DIR, relative);
}

std::wstring windows_path_of_source_file(std::string_view relative) {
    return windows_path_under(VANTREL_SOURCE_DIR, relative);
}

std::wstring test_program_path(std::string_view name) {
    return windows_path_of_build_file("tests/programs/" + std::string(name) + ".exe");
}

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("no temporary folder");
    for (;;) {
        path_ = std::wstring(temp, length) + L"vantrel-test-" +
                std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) + L"\\";
        if (CreateDirectoryW(path_.c_str(), nullptr))
            return;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("no scratch folder");
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path_), ignored);
}

void write_file(const std::wstring& path, std::string_view content) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
}

std::optional<std::string> read_file(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> folder_entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace vantrel::testing
