#include "bench/bench_release.hpp"

#include <sodium.h>

#include <array>
#include <cstdint>

#include "lib/digest.hpp"
#include "lib/internal_fault.hpp"
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

BenchRelease make_bench_release(std::size_t package_size) {
    const release_tool::SecretKey secret = release_tool::generate_secret_key();
    Bytes launcher = launcher_for_package(package_size);
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

}  // namespace vantrel::bench
