# The download host and the release-signing key are fixed when the program is
# built. Development builds default to the test key and localhost; a production
# configuration must name both explicitly and may not use the test key.

include("${CMAKE_CURRENT_LIST_DIR}/release_key.cmake")

set(VANTREL_TEST_RELEASE_KEY "${PROJECT_SOURCE_DIR}/tests/keys/release-test.pub")

option(VANTREL_PRODUCTION "Refuse to configure without an explicit host and key" OFF)
set(VANTREL_DOWNLOAD_HOST "" CACHE STRING "Host name of the HTTPS download server")
set(VANTREL_RELEASE_KEY "" CACHE FILEPATH "minisign public-key file of the release-signing key")

if(VANTREL_PRODUCTION)
    if(VANTREL_DOWNLOAD_HOST STREQUAL "" OR VANTREL_RELEASE_KEY STREQUAL "")
        message(FATAL_ERROR
            "A production build needs -DVANTREL_DOWNLOAD_HOST=<host> and "
            "-DVANTREL_RELEASE_KEY=<minisign public-key file>.")
    endif()
else()
    if(VANTREL_DOWNLOAD_HOST STREQUAL "")
        set(VANTREL_DOWNLOAD_HOST localhost)
    endif()
    if(VANTREL_RELEASE_KEY STREQUAL "")
        set(VANTREL_RELEASE_KEY "${VANTREL_TEST_RELEASE_KEY}")
    endif()
endif()

if(NOT VANTREL_DOWNLOAD_HOST MATCHES "^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$")
    message(FATAL_ERROR "VANTREL_DOWNLOAD_HOST is not a host name: '${VANTREL_DOWNLOAD_HOST}'")
endif()
if(NOT EXISTS "${VANTREL_RELEASE_KEY}")
    message(FATAL_ERROR "VANTREL_RELEASE_KEY names no file: '${VANTREL_RELEASE_KEY}'")
endif()

if(VANTREL_PRODUCTION)
    # The decoded key, so that no other line ends or comment let the test key through.
    vantrel_decoded_release_key("${VANTREL_RELEASE_KEY}" vantrel_key)
    vantrel_decoded_release_key("${VANTREL_TEST_RELEASE_KEY}" vantrel_test_key)
    if(vantrel_key STREQUAL "")
        message(FATAL_ERROR "VANTREL_RELEASE_KEY is not a minisign public key: '${VANTREL_RELEASE_KEY}'")
    endif()
    if(vantrel_key STREQUAL vantrel_test_key)
        message(FATAL_ERROR "A production build may not use the test release key.")
    endif()
endif()
file(READ "${VANTREL_RELEASE_KEY}" vantrel_key_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VANTREL_RELEASE_KEY}")

# The built-in key text has CR LF line ends, whatever the file has.
string(REPLACE "\r\n" "\n" vantrel_key_text "${vantrel_key_text}")
string(REPLACE "\n" "\r\n" vantrel_key_text "${vantrel_key_text}")
string(HEX "${vantrel_key_text}" vantrel_key_hex)
string(REGEX REPLACE "(..)" "\\\\x\\1" VANTREL_RELEASE_KEY_LITERAL "${vantrel_key_hex}")

message(STATUS "Download host: ${VANTREL_DOWNLOAD_HOST}")
message(STATUS "Release key: ${VANTREL_RELEASE_KEY}")

configure_file("${PROJECT_SOURCE_DIR}/bootstrap/src/lib/build_settings.cpp.in"
    "${PROJECT_BINARY_DIR}/generated/build_settings.cpp" @ONLY)
add_library(vantrel_build_settings STATIC "${PROJECT_BINARY_DIR}/generated/build_settings.cpp")
target_include_directories(vantrel_build_settings PUBLIC "${PROJECT_SOURCE_DIR}/bootstrap/src")
target_link_libraries(vantrel_build_settings PRIVATE vantrel_warnings)
