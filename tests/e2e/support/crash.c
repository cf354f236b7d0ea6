/* Ends with an access violation: the harness checks that a crash under Wine ends the program
 * instead of leaving it waiting on a crash dialog. */
#include <windows.h>

int wmain(void) {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, NULL);
    return 0;
}
