// Holds a setup lock, or any file with a chosen share mode, the way another running
// setup or a running launcher would, so that tests can make locks, renames and
// deletes fail.
//
//   lock_holder lock <folder> <name> <seconds>
//   lock_holder open <path> <share-mode-hex> <seconds>
//
// Prints "ready" once it holds the file, then waits until killed or for the given
// number of seconds. Exit code 2 for wrong usage, 3 when the file cannot be taken.

#include <windows.h>

#include <cwchar>
#include <string>

#include "lib/error.hpp"
#include "windows/setup_locks.hpp"
#include "windows/system_error.hpp"
#include "windows/unique_handle.hpp"

namespace {

// Raw bytes with a bare line feed, whatever the C runtime's text mode would make of it.
void say(std::string line) {
    line += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), DWORD(line.size()), &written, nullptr);
}

void hold_for(const wchar_t* seconds) {
    say("ready");
    Sleep(DWORD(std::wcstoul(seconds, nullptr, 10) * 1000));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wcscmp(argv[1], L"lock") == 0) {
        auto lock = vantrel::acquire_lock(argv[2], argv[3], vantrel::Stage::Installation);
        if (!lock) {
            say(lock.error().display());
            return 3;
        }
        hold_for(argv[4]);
        return 0;
    }
    if (argc == 5 && std::wcscmp(argv[1], L"open") == 0) {
        const DWORD share = DWORD(std::wcstoul(argv[3], nullptr, 16));
        // Backup semantics let folders be held open too.
        const vantrel::UniqueHandle file(CreateFileW(argv[2], GENERIC_READ, share, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                     nullptr));
        if (!file) {
            say(vantrel::last_os_error().text());
            return 3;
        }
        hold_for(argv[4]);
        return 0;
    }
    say("usage: lock_holder lock <folder> <name> <seconds> | open <path> <share-hex> <seconds>");
    return 2;
}
