// Takes the launcher out of arbitrary bytes as a package. Every failure must be an
// Extraction error, and whatever comes out must have passed the image check.
#include <cstddef>
#include <cstdint>

#include "lib/launcher_package.hpp"
#include "lib/release_limits.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto launcher = vantrel::extract_launcher(vantrel::ByteView(data, size));
    if (!launcher) {
        if (launcher.error().stage() != vantrel::Stage::Extraction)
            __builtin_trap();
        return 0;
    }
    if (launcher->size() > vantrel::launcher_size_limit || !vantrel::check_executable(*launcher))
        __builtin_trap();
    return 0;
}
