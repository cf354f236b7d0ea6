/* Prints its own command line (GetCommandLineW) as hex UTF-16 code units, 4 digits each, and a
 * line feed. The harness tests use it to check how command lines reach a Windows program. */
#include <windows.h>

#include <stdio.h>

int wmain(void) {
    for (const wchar_t* p = GetCommandLineW(); *p != L'\0'; ++p) {
        printf("%04x", (unsigned)*p);
    }
    fputs("\n", stdout);
    return 0;
}
