#include "vantrel-release/release_check.hpp"

#include <string>
#include <system_error>

#include "lib/manifest.hpp"
#include "lib/release_verification.hpp"
#include "vantrel-release/release_builder.hpp"
#include "vantrel-release/release_tree.hpp"

namespace vantrel::release_tool {

Outcome<Bytes> verify_published_files(const std::filesystem::path& root, const Manifest& manifest,
                                      const PublicKey& key) {
    Outcome<ReleaseFiles> files = read_release_files(root, manifest);
    if (!files)
        return std::move(files).error();
    Result<Bytes> launcher = verify_release(manifest, *files, key);
    if (!launcher)
        return failure_of(launcher.error());
    return std::move(launcher).value();
}

Done check_published_release(const std::filesystem::path& root, std::string_view version,
                             const PublicKey& key) {
    std::error_code code;
    if (!std::filesystem::is_directory(release_folder(root, version), code)) {
        return Failure{"release " + std::string(version) + " is not published in " + root.string()};
    }
    Result<Manifest> manifest =
        parse_manifest(manifest_json(version, expected_windows_artifact(version)));
    if (!manifest)
        return failure_of(manifest.error());
    if (Outcome<Bytes> launcher = verify_published_files(root, *manifest, key); !launcher)
        return std::move(launcher).error();
    return {};
}

}  // namespace vantrel::release_tool
