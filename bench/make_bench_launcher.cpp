// Writes a launcher for the releases that scripts/bench publishes and times the usual
// tools on: a random one whose package is just under the given size in MiB, or the
// realistic largest one.

#include <sys/stat.h>

#include <charconv>
#include <string>
#include <string_view>

#include "bench/bench_release.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/file_io.hpp"

namespace {

constexpr std::string_view realistic = "realistic";

// The package size in MiB, or 0 when the text is not a positive number.
std::size_t mebibytes(std::string_view text) {
    std::size_t mib = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mib);
    return error == std::errc() && end == text.data() + text.size() ? mib : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vantrel;
    const std::string_view kind = argc == 3 ? argv[2] : "";
    const std::size_t mib = mebibytes(kind);
    if (argc != 3 || (mib == 0 && kind != realistic)) {
        write_standard_error("Usage: make_bench_launcher OUT PACKAGE_MIB|realistic\n");
        return 2;
    }
    const Bytes launcher = kind == realistic ? bench::realistic_launcher()
                                             : bench::launcher_for_package(mib * bench::mebibyte);
    const auto written = release_tool::write_file_atomically(argv[1], launcher, 0644,
                                                             release_tool::Existing::Replace);
    if (!written) {
        write_standard_error(written.error().message + "\n");
        return 1;
    }
    return 0;
}
