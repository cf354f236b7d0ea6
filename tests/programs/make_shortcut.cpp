// Makes a shell link the way a user's own shortcut would be made, for the tests of
// which shortcuts the uninstall removes.
//
//   make_shortcut <shortcut path> <target path>
//
// The link has the target, the target's folder as working folder and the target as
// icon. Exit code 0 when it was saved, 2 for wrong usage, 3 when it could not be.

#include <windows.h>

#include <string>

#include "windows/shortcuts.hpp"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const std::wstring shortcut = argv[1];
    const vantrel::Result<bool> written =
        vantrel::write_shortcut(argv[2], shortcut, shortcut, true);
    if (!written) {
        const std::string line = written.error().display() + "\n";
        DWORD count = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), DWORD(line.size()), &count, nullptr);
        return 3;
    }
    return 0;
}
