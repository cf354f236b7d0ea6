#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/result.hpp"

namespace vantrel {

// File names of one platform's release, in the order they are downloaded.
struct Artifact {
    std::string archive;
    std::string checksum;
    std::string signature;
    std::string checksum_signature;

    bool operator==(const Artifact&) const = default;
};

struct Platforms {
    std::optional<Artifact> windows_x86_64;
    std::optional<Artifact> linux_x86_64;
};

// The release manifest, as published at manifest_path.
struct Manifest {
    std::uint32_t schema;
    std::string version;
    Platforms platforms;
};

// Every release file lies under this path on the download host.
inline constexpr std::string_view release_root = "/vantrel/launcher/";

inline constexpr std::string_view manifest_path = "/vantrel/launcher/stable/manifest.json";

// The only manifest schema this program reads.
inline constexpr std::uint32_t manifest_schema = 1;

// Three dot-separated groups of ASCII digits, 48 bytes at most.
bool is_valid_release_version(std::string_view version);

// The names a release of this version is published under for Windows x86-64;
// a manifest must name exactly these.
Artifact expected_windows_artifact(std::string_view version);

// Size check, JSON parse and validation in one; every failure has stage Manifest.
Result<Manifest> parse_manifest(ByteView body);

// The four Windows names in field order: archive, checksum, signature, checksum
// signature. Only for a manifest that passed parse_manifest.
std::array<std::string_view, 4> windows_artifact(const Manifest& manifest);

// "/vantrel/launcher/" + version + "/" + name.
std::string artifact_path(std::string_view version, std::string_view name);

}  // namespace vantrel
