// Writes a random launcher whose package is just under the given size in MiB, for
// the release that scripts/bench publishes and times the usual tools on.

#include <sys/stat.h>

#include <charconv>
#include <string>
#include <string_view>

#include "bench/bench_release.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/file_io.hpp"

int main(int argc, char** argv) {
    using namespace vantrel;
    std::size_t mib = 0;
    const std::string_view size_text = argc == 3 ? argv[2] : "";
    const auto [end, error] =
        std::from_chars(size_text.data(), size_text.data() + size_text.size(), mib);
    if (argc != 3 || error != std::errc() || end != size_text.data() + size_text.size() ||
        mib == 0) {
        write_standard_error("Usage: make_bench_launcher OUT PACKAGE_MIB\n");
        return 2;
    }
    const Bytes launcher = bench::launcher_for_package(mib * bench::mebibyte);
    const auto written = release_tool::write_file_atomically(argv[1], launcher, 0644,
                                                             release_tool::Existing::Replace);
    if (!written) {
        write_standard_error(written.error().message + "\n");
        return 1;
    }
    return 0;
}
