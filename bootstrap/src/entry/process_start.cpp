// The image's entry point and its load configuration. A player starts the setup from the
// Downloads folder, where anyone may have left a DLL named like a system one; both keep such a
// DLL from being loaded.
#include <windows.h>

// The C runtime's entry for a GUI program: runs the constructors, then wWinMain.
extern "C" int WinMainCRTStartup();

// Windows 10 1607 and later resolve even the static imports with these flags. The loader finds
// the structure through the load-configuration directory, which GNU ld leaves empty and
// tools/release/stamp_pe.py fills in; mingw-w64 calls DependentLoadFlags Reserved1.
static constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 load_configuration() {
    IMAGE_LOAD_CONFIG_DIRECTORY64 configuration{};
    configuration.Size = sizeof configuration;
    configuration.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return configuration;
}

extern "C" constinit const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = load_configuration();

// Before the runtime starts anything that can load a DLL (its stack-guard set-up does), every
// later load without a full path, ours and the system DLLs' alike, is confined to System32.
extern "C" int vantrel_process_start() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return WinMainCRTStartup();
}
