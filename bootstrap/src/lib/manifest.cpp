#include "lib/manifest.hpp"

#include "lib/internal_fault.hpp"
#include "lib/json_manifest_reader.hpp"
#include "lib/release_limits.hpp"

namespace vantrel {
namespace {

constexpr std::size_t release_version_limit = 48;
constexpr std::size_t release_version_parts = 3;
constexpr std::string_view windows_platform_label = "Windows x86_64";

Error manifest_error(std::string_view detail) {
    return Error::from_text(Stage::Manifest, detail);
}

}  // namespace

bool is_valid_release_version(std::string_view version) {
    if (version.size() > release_version_limit)
        return false;
    std::size_t parts = 1;
    std::size_t part_length = 0;
    for (const char c : version) {
        if (c == '.') {
            if (part_length == 0)
                return false;
            ++parts;
            part_length = 0;
        } else if (c >= '0' && c <= '9') {
            ++part_length;
        } else {
            return false;
        }
    }
    return parts == release_version_parts && part_length > 0;
}

Artifact expected_windows_artifact(std::string_view version) {
    std::string archive = "vantrel-launcher-";
    archive += version;
    archive += "-x86_64-windows.tar.gz";
    return {archive, archive + ".sha256", archive + ".minisig", archive + ".sha256.minisig"};
}

Result<Manifest> parse_manifest(ByteView body) {
    if (body.size() > manifest_size_limit)
        return manifest_error("Manifest is too large.");

    Result<Manifest> manifest = read_manifest_json(as_text(body));
    if (!manifest)
        return manifest;

    if (manifest->schema != manifest_schema || !is_valid_release_version(manifest->version)) {
        return manifest_error("Unsupported schema or version.");
    }
    const std::optional<Artifact>& windows = manifest->platforms.windows_x86_64;
    if (!windows)
        return manifest_error("Required platform is missing.");
    if (*windows != expected_windows_artifact(manifest->version)) {
        return Error::from_composed(
            Stage::Manifest, std::string(windows_platform_label) + " artifact names are invalid.");
    }
    return manifest;
}

std::array<std::string_view, 4> windows_artifact(const Manifest& manifest) {
    const std::optional<Artifact>& windows = manifest.platforms.windows_x86_64;
    if (!windows)
        internal_fault("validated manifest platform");
    return {windows->archive, windows->checksum, windows->signature, windows->checksum_signature};
}

std::string artifact_path(std::string_view version, std::string_view name) {
    std::string path(release_root);
    path += version;
    path += '/';
    path += name;
    return path;
}

}  // namespace vantrel
