# Third-party libraries, as imported targets that both builds link the same way.
#   native:  Debian's -dev packages
#   windows: static libraries cross-built by scripts/setup into VANTREL_DEPS_PREFIX

function(vantrel_static_dependency target header)
    cmake_parse_arguments(ARG "" "" "NAMES;DEFINES;LINKS" ${ARGN})
    find_path(${target}_INCLUDE_DIR ${header} REQUIRED)
    find_library(${target}_LIBRARY NAMES ${ARG_NAMES} REQUIRED)
    add_library(vantrel::${target} STATIC IMPORTED GLOBAL)
    set_target_properties(vantrel::${target} PROPERTIES
        IMPORTED_LOCATION "${${target}_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${${target}_INCLUDE_DIR}"
        INTERFACE_COMPILE_DEFINITIONS "${ARG_DEFINES}"
        INTERFACE_LINK_LIBRARIES "${ARG_LINKS}")
endfunction()

if(WIN32)
    set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
    vantrel_static_dependency(zlib zlib.h NAMES z)
    vantrel_static_dependency(sodium sodium.h NAMES sodium DEFINES SODIUM_STATIC)
    vantrel_static_dependency(archive archive.h NAMES archive_static archive
        DEFINES LIBARCHIVE_STATIC LINKS vantrel::zlib)
    vantrel_static_dependency(png png.h NAMES png16 png LINKS vantrel::zlib)
    vantrel_static_dependency(deflate libdeflate.h NAMES deflate)
    # The SHA-256 objects of libcrypto alone (scripts/setup).
    vantrel_static_dependency(crypto openssl/sha.h NAMES crypto_sha256)
    # mingw does not search /usr/include; scripts/setup links the header-only
    # library into the dependency prefix.
    find_path(nlohmann_INCLUDE_DIR nlohmann/json.hpp REQUIRED)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${nlohmann_INCLUDE_DIR}")
else()
    find_package(PkgConfig REQUIRED)
    foreach(dep IN ITEMS zlib:zlib sodium:libsodium archive:libarchive png:libpng deflate:libdeflate
            crypto:libcrypto)
        string(REPLACE ":" ";" pair ${dep})
        list(GET pair 0 name)
        list(GET pair 1 module)
        pkg_check_modules(${name} REQUIRED IMPORTED_TARGET GLOBAL ${module})
        add_library(vantrel::${name} ALIAS PkgConfig::${name})
    endforeach()
    find_package(nlohmann_json 3.11 REQUIRED CONFIG)
endif()

find_package(Threads REQUIRED)

if(VANTREL_BUILD_TESTS)
    find_package(GTest REQUIRED CONFIG)
endif()
