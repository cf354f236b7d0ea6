/* A DLL planted under a system DLL's name in the folders a program is started from. When it is
 * loaded it appends its own path and a line feed to the file that VANTREL_PLANTED_MARKER names.
 * Each of its exports (the .def file the test makes) is planted_function, which does nothing. */
#include <windows.h>

int planted_function(void) {
    return 0;
}

static void mark(HINSTANCE instance) {
    wchar_t marker[MAX_PATH], path[MAX_PATH];
    char line[4 * MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"VANTREL_PLANTED_MARKER", marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, line, sizeof line, NULL, NULL);
    if (size == 0)
        return;
    line[size - 1] = '\n';
    HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, (DWORD)size, &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        mark(instance);
    return TRUE;
}
