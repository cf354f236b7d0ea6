#include "bench/bench_release.hpp"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/digest.hpp"
#include "lib/internal_fault.hpp"
#include "lib/release_limits.hpp"
#include "vantrel-release/launcher_archive.hpp"
#include "vantrel-release/minisign_keys.hpp"
#include "vantrel-release/release_builder.hpp"

namespace vantrel::bench {
namespace {

constexpr std::size_t pe_offset = 128;
constexpr std::array<std::uint8_t, 6> pe_signature_x86_64 = {'P', 'E', 0, 0, 0x64, 0x86};
// Room left for the tar and gzip framing on the first try.
constexpr std::size_t first_guess_room = 65536;
// Slack for the framing differing a little between the two packings.
constexpr std::size_t framing_slack = 512;
// Where the machine code of the realistic launcher begins: past its header.
constexpr std::size_t header_size = 4096;
// Wine's own 64-bit PE libraries: real x86-64 code and data, as a launcher holds.
constexpr std::string_view machine_code_folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
constexpr std::string_view bench_version = "1.0.0";
constexpr std::int64_t bench_timestamp = 1765267200;

std::size_t package_size_of(ByteView launcher) {
    auto package = release_tool::pack_launcher(launcher);
    if (!package)
        internal_fault(package.error().message);
    return package->size();
}

}  // namespace

Bytes random_launcher(std::size_t size) {
    require_sodium();
    Bytes launcher(size);
    randombytes_buf(launcher.data(), launcher.size());
    launcher[0] = 'M';
    launcher[1] = 'Z';
    for (std::size_t i = 0; i < 4; ++i)
        launcher[60 + i] = static_cast<std::uint8_t>(pe_offset >> (8 * i));
    std::copy(pe_signature_x86_64.begin(), pe_signature_x86_64.end(), launcher.begin() + pe_offset);
    return launcher;
}

Bytes launcher_for_package(std::size_t package_size) {
    Bytes launcher = random_launcher(package_size - first_guess_room);
    const std::size_t framing = package_size_of(launcher) - launcher.size();
    // The extra bytes are random too, so the framing stays what it was.
    Bytes grown = random_launcher(package_size - framing - framing_slack);
    if (package_size_of(grown) > package_size)
        internal_fault("bench package above its size");
    return grown;
}

namespace {

BenchRelease release_of(const release_tool::SecretKey& secret, Bytes launcher) {
    auto release = release_tool::build_release(secret, bench_version, launcher, bench_timestamp);
    if (!release)
        internal_fault(release.error().message);
    Result<Manifest> manifest = parse_manifest(release->manifest);
    Result<PublicKey> key = decode_public_key(release_tool::public_key_text(secret));
    if (!manifest || !key)
        internal_fault("bench release refused before the bench");
    return {std::move(manifest).value(), std::move(release->files), std::move(key).value(),
            std::move(launcher)};
}

}  // namespace

BenchRelease make_bench_release(std::size_t package_size) {
    return release_of(release_tool::generate_secret_key(), launcher_for_package(package_size));
}

Bytes realistic_launcher() {
    std::vector<std::filesystem::path> libraries;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(machine_code_folder, error)) {
        if (entry.path().extension() == ".dll")
            libraries.push_back(entry.path());
    }
    std::sort(libraries.begin(), libraries.end());
    Bytes launcher = random_launcher(header_size);
    launcher.reserve(launcher_size_limit);
    for (const auto& library : libraries) {
        std::ifstream file(library, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()};
        const std::size_t count = std::min(bytes.size(), launcher_size_limit - launcher.size());
        launcher.insert(launcher.end(), bytes.begin(), bytes.begin() + count);
        if (launcher.size() == launcher_size_limit)
            return launcher;
    }
    internal_fault("fewer than 64 MiB of Wine's 64-bit libraries in " +
                   std::string(machine_code_folder) + " (package wine64)");
}

BenchRelease make_largest_built_in_key_release() {
    std::ifstream file(std::string(VANTREL_SOURCE_DIR) + "/tests/keys/release-test.key",
                       std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    auto secret = release_tool::read_secret_key(Bytes(text.begin(), text.end()), [] {
        return release_tool::Outcome<std::string>(release_tool::Failure{"encrypted test key"});
    });
    if (!secret)
        internal_fault("the test release key: " + secret.error().message);
    Bytes launcher = realistic_launcher();
    if (package_size_of(launcher) > package_size_limit)
        internal_fault("largest bench package above the package limit");
    return release_of(*secret, std::move(launcher));
}

}  // namespace vantrel::bench
