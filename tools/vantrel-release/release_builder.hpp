#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/manifest.hpp"
#include "lib/release_files.hpp"
#include "vantrel-release/minisign_keys.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// A launcher release as the setup fetches it: the four files under the names its
// version gives, and the manifest that names them.
struct Release {
    std::string version;
    Artifact names;
    ReleaseFiles files;
    Bytes manifest;
};

// Refuses a version the setup's version rule refuses.
Done check_release_version(std::string_view version);

// Packs the launcher and signs the package and its checksum file, each signature's
// trusted comment naming its file and the time. A version or a launcher the setup
// would refuse is refused here.
Outcome<Release> build_release(const SecretKey& key, std::string_view version, ByteView launcher,
                               std::int64_t timestamp);

// The checksum file as sha256sum writes it: "<hex>  <archive name>\n".
std::string checksum_file_text(ByteView package, std::string_view archive_name);

// The manifest of this release for Windows x86-64, in the setup's schema.
Bytes manifest_json(std::string_view version, const Artifact& names);

}  // namespace vantrel::release_tool
