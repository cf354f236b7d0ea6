/* The planting test's control: a program with the setup's static imports (one function of each
 * DLL, listed in planting_control.h, which the test writes from the setup's import table) whose
 * first statement confines DLL loads to System32, as the setup's is. A planted DLL that still
 * runs for it is one that Wine loads before any code of a program runs. */
#include <windows.h>

#include "planting_control.h"

#define DECLARE(name) extern void* __imp_##name;
CONTROL_IMPORTS(DECLARE)
#define ADDRESS(name) &__imp_##name,
static void* volatile imported[] = {CONTROL_IMPORTS(ADDRESS)};

void control_start(void) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ExitProcess(imported[0] != NULL ? 0 : 1);
}
