# Our own code is built with warnings as errors; third-party headers come in as
# system includes and are exempt.
add_library(vantrel_warnings INTERFACE)
target_compile_options(vantrel_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wimplicit-fallthrough -Werror
    # GCC 12 reports false overlaps inside libstdc++'s std::string at -O3.
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
target_compile_features(vantrel_warnings INTERFACE cxx_std_20)
