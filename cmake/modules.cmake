# Each source folder is one static library of the files in it; a folder with no
# sources yet becomes an interface library so that dependants still link.
function(vantrel_module name dir)
    cmake_parse_arguments(ARG "" "" "LINKS;EXCLUDE" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${dir}/*.cpp")
    foreach(excluded IN LISTS ARG_EXCLUDE)
        list(REMOVE_ITEM sources "${dir}/${excluded}")
    endforeach()
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/bootstrap/src")
        target_link_libraries(${name} PUBLIC ${ARG_LINKS} PRIVATE vantrel_warnings)
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}/bootstrap/src")
        target_link_libraries(${name} INTERFACE ${ARG_LINKS})
    endif()
endfunction()

# One GoogleTest executable per test folder. Natively every case is its own CTest
# test; under Wine a process start is costly, so each executable is one test.
function(vantrel_test_executable name dir)
    cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${dir}/*_test.cpp" "${dir}/*_support.cpp")
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests" "${dir}")
    target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gtest_main GTest::gmock
        vantrel_warnings)
    target_compile_definitions(${name} PRIVATE
        VANTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VANTREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
    # Every test file includes the test framework and much of the standard library: parsed
    # once per program instead of once per file. Not for MinGW: through a precompiled header
    # GCC 12 at -O3 reports false overflows inside libstdc++ as errors.
    if(NOT WIN32)
        target_precompile_headers(${name} PRIVATE <gmock/gmock.h> <gtest/gtest.h> <algorithm>
            <array> <cstdint> <filesystem> <functional> <map> <memory> <optional> <span>
            <string> <string_view> <vector>)
    endif()
    if(WIN32)
        # gtest_main supplies a narrow main, so no -municode here.
        target_link_options(${name} PRIVATE -static)
        # Under Wine a path without a drive letter is relative to the current folder; Z: is
        # Wine's drive for the Unix root. Output goes through a file: a console host that
        # Wine starts for a child may outlive the test and would hold CTest's pipe open.
        set(log "${PROJECT_BINARY_DIR}/test-results/${name}.log")
        add_test(NAME ${name} COMMAND sh -c
            "mkdir -p \"${PROJECT_BINARY_DIR}/test-results\" && wine \"$0\" --gtest_output=xml:Z:\"$1\" >\"$2\" 2>&1; status=$?; cat \"$2\"; exit $status"
            $<TARGET_FILE:${name}> "${PROJECT_BINARY_DIR}/test-results/${name}.xml" "${log}")
    else()
        include(GoogleTest)
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
