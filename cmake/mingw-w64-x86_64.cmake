# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VANTREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VANTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTREL_MINGW_TRIPLE}-windres)

# Every function and datum in a section of its own, so that the link of Vantrel.exe drops
# what it does not use. scripts/setup builds the Windows libraries with these flags too.
set(VANTREL_SECTION_FLAGS "-ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${VANTREL_SECTION_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VANTREL_SECTION_FLAGS}")

# Where scripts/setup installs the cross-built static libraries.
set(VANTREL_DEPS_PREFIX "/var/cache/vantrel-deps/${VANTREL_MINGW_TRIPLE}"
    CACHE PATH "Prefix of the cross-built Windows dependencies")

set(CMAKE_FIND_ROOT_PATH /usr/${VANTREL_MINGW_TRIPLE} ${VANTREL_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
