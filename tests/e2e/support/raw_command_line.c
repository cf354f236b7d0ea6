/* Starts a program with an exact Windows command line.
 *
 * `wine program args...` rebuilds the command line from the Unix argument list and always
 * quotes the program name, so some command lines (an unquoted program path with spaces, an
 * empty command line, odd spacing or quoting) cannot be produced that way.
 *
 * Usage: raw_command_line.exe <application path> <command line as hex UTF-16 code units>
 * The command line is given as 4 hex digits per code unit so that any text, even unpaired
 * surrogates, survives the trip through Wine's own argument handling. The child inherits the
 * standard handles; the exit code is the child's, or 125 when the child could not be started.
 */
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

enum { launch_failed = 125 };

static int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

/* Returns a NUL-terminated buffer, or NULL when the text is not whole code units of hex. */
static wchar_t* decode_hex(const wchar_t* hex) {
    size_t digits = wcslen(hex);
    if (digits % 4 != 0) {
        return NULL;
    }
    wchar_t* out = calloc(digits / 4 + 1, sizeof(wchar_t));
    if (out == NULL) {
        return NULL;
    }
    for (size_t i = 0; i < digits / 4; ++i) {
        unsigned unit = 0;
        for (size_t j = 0; j < 4; ++j) {
            int d = hex_digit(hex[i * 4 + j]);
            if (d < 0) {
                free(out);
                return NULL;
            }
            unit = unit * 16 + (unsigned)d;
        }
        out[i] = (wchar_t)unit;
    }
    return out;
}

/* Wine's standard handles are not always inheritable; duplicate them so that they are. */
static HANDLE inheritable(DWORD which) {
    HANDLE original = GetStdHandle(which);
    HANDLE copy = NULL;
    if (original == NULL || original == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return NULL;
    }
    return copy;
}

int wmain(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == NULL || argc != 3) {
        fputs("usage: raw_command_line.exe <application> <hex UTF-16 command line>\n", stderr);
        return launch_failed;
    }
    wchar_t* command_line = decode_hex(argv[2]);
    if (command_line == NULL) {
        fputs("raw_command_line: the command line is not hex UTF-16\n", stderr);
        return launch_failed;
    }

    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {0};
    if (!CreateProcessW(argv[1], command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                        &process)) {
        fprintf(stderr, "raw_command_line: CreateProcessW failed with error %lu\n", GetLastError());
        return launch_failed;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = launch_failed;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return (int)code;
}
