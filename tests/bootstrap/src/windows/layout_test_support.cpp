#include "layout_test_support.hpp"

#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "support/windows_test_support.hpp"

namespace vantrel::testing {
namespace {

using UnixNameFunction = char*(CDECL*)(LPCWSTR);

UnixNameFunction unix_name_function() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC address = kernel ? GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
    return reinterpret_cast<UnixNameFunction>(reinterpret_cast<void (*)()>(address));
}

std::optional<std::string> unix_path(const std::wstring& path) {
    const UnixNameFunction function = unix_name_function();
    if (function == nullptr)
        return std::nullopt;
    char* name = function(path.c_str());
    if (name == nullptr)
        return std::nullopt;
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Wine starts unix programs through CreateProcessW too.
bool run_unix(std::string_view program, std::initializer_list<std::string> arguments) {
    std::string text(program);
    for (const std::string& argument : arguments)
        text += " \"" + argument + "\"";
    std::wstring command_line(text.begin(), text.end());
    const std::string binary(program.substr(0, program.find(' ')));
    const std::wstring path = L"Z:\\bin\\" + std::wstring(binary.begin(), binary.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information{};
    if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &information)) {
        return false;
    }
    CloseHandle(information.hThread);
    CloseHandle(information.hProcess);
    return true;
}

}  // namespace

std::optional<HolderProcess> HolderProcess::start(const std::wstring& arguments,
                                                  std::string& failure) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
        failure = "CreatePipe failed";
        return std::nullopt;
    }
    const UniqueHandle reader(read_end);
    UniqueHandle writer(write_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    const std::wstring program = test_program_path("lock_holder");
    std::wstring command_line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION information{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &information)) {
        failure = "lock_holder could not be started";
        return std::nullopt;
    }
    CloseHandle(information.hThread);
    HolderProcess holder{UniqueHandle(information.hProcess)};
    writer.reset();

    std::string said;
    char c = 0;
    DWORD count = 0;
    while (ReadFile(reader.get(), &c, 1, &count, nullptr) && count == 1 && c != '\n')
        said += c;
    if (said != "ready") {
        failure = "lock_holder said: " + said;
        return std::nullopt;
    }
    return holder;
}

void HolderProcess::stop() {
    if (!process_)
        return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), INFINITE);
    process_.reset();
}

std::optional<HolderProcess> hold_open(const std::wstring& path, DWORD share_mode,
                                       std::string& failure) {
    wchar_t share[16];
    swprintf(share, 16, L"%lx", share_mode);
    return HolderProcess::start(L"open \"" + path + L"\" " + share + L" 600", failure);
}

bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

FolderLink::FolderLink(const std::wstring& target, const std::wstring& link) : link_(link) {
    if (CreateSymbolicLinkW(
            link.c_str(), target.c_str(),
            SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        exists(link)) {
        return;
    }
    const std::optional<std::string> unix_target = unix_path(target);
    unix_link_ = unix_path(link);
    if (!unix_target || !unix_link_) {
        failure_ = "this system cannot make a symbolic link (developer mode or privilege needed)";
        return;
    }
    if (!run_unix("ln -s", {*unix_target, *unix_link_})) {
        failure_ = "Wine could not run /bin/ln";
        return;
    }
    // Wine's process handle of a unix program may end before the program does.
    for (int wait = 0; wait < 250 && !exists(link); ++wait)
        Sleep(20);
    if (!exists(link))
        failure_ = "/bin/ln made no link";
}

FolderLink::~FolderLink() {
    if (!exists(link_))
        return;
    if (!unix_link_) {
        RemoveDirectoryW(link_.c_str());
        return;
    }
    run_unix("rm", {*unix_link_});
    for (int wait = 0; wait < 250 && exists(link_); ++wait)
        Sleep(20);
}

std::optional<std::string> make_junction(const std::wstring& target, const std::wstring& link) {
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return "the junction's folder could not be made";
    const UniqueHandle folder(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!folder)
        return "the junction's folder could not be opened";
    // A mount-point reparse buffer: the NT target name, then an empty print name.
    const std::wstring substitute = L"\\??\\" + target;
    const std::size_t names_bytes = (substitute.size() + 1 + 1) * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(8 + 8 + names_bytes);
    const auto put16 = [&buffer](std::size_t at, std::size_t value) {
        buffer[at] = std::uint8_t(value);
        buffer[at + 1] = std::uint8_t(value >> 8);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(&tag), 4, buffer.begin());
    put16(4, 8 + names_bytes);                             // reparse data length
    put16(8, 0);                                           // substitute name offset
    put16(10, substitute.size() * sizeof(wchar_t));        // substitute name length
    put16(12, (substitute.size() + 1) * sizeof(wchar_t));  // print name offset
    put16(14, 0);                                          // print name length
    std::copy_n(reinterpret_cast<const std::uint8_t*>(substitute.c_str()),
                substitute.size() * sizeof(wchar_t), buffer.begin() + 16);
    DWORD returned = 0;
    if (!DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, buffer.data(), DWORD(buffer.size()),
                         nullptr, 0, &returned, nullptr)) {
        return "FSCTL_SET_REPARSE_POINT failed with error " + std::to_string(GetLastError()) +
               " (Wine cannot make junctions)";
    }
    return std::nullopt;
}

std::optional<std::string> make_file_link(const std::wstring& target, const std::wstring& link) {
    const bool made = CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (made && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return std::nullopt;
    }
    return running_under_wine()
               ? "Wine's CreateSymbolicLinkW makes no link, and Wine shows unix links to files "
                 "as plain files"
               : "this system cannot make a symbolic link (developer mode or privilege needed)";
}

}  // namespace vantrel::testing
