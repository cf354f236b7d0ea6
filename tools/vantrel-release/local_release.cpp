#include "vantrel-release/local_release.hpp"

#include <array>

#include "lib/digest.hpp"
#include "lib/release_limits.hpp"
#include "vantrel-release/file_io.hpp"
#include "vantrel-release/release_check.hpp"
#include "vantrel-release/release_tree.hpp"
#include "vantrel-release/release_versions.hpp"

namespace vantrel::release_tool {
namespace {

// In artifact order: the package, its checksum file and the two signatures.
constexpr std::array<std::string_view, 4> artifact_content_types = {
    "application/gzip", "text/plain", "text/plain", "text/plain"};

Outcome<Manifest> verify_tree(const std::filesystem::path& root, const PublicKey& key,
                              Bytes& manifest_bytes) {
    Outcome<Bytes> body = read_at_most(tree_path(root, manifest_path), manifest_size_limit + 1);
    if (!body)
        return std::move(body).error();
    Result<Manifest> manifest = parse_manifest(*body);
    if (!manifest)
        return failure_of(manifest.error());
    if (Outcome<Bytes> launcher = verify_published_files(root, *manifest, key); !launcher)
        return std::move(launcher).error();
    manifest_bytes = std::move(body).value();
    return std::move(manifest).value();
}

}  // namespace

std::string store_key(std::string_view server_path) {
    return std::string(server_path.substr(1));
}

Outcome<LocalTree> read_local_tree(const std::filesystem::path& root, const PublicKey& key) {
    LocalTree tree;
    Outcome<Manifest> manifest = verify_tree(root, key, tree.manifest_bytes);
    if (!manifest)
        return Failure{root.string() + " does not verify: " + manifest.error().message};
    tree.manifest = std::move(manifest).value();

    Outcome<std::vector<std::string>> versions = published_versions(root);
    if (!versions)
        return std::move(versions).error();
    for (const std::string& version : *versions) {
        const Artifact names = expected_windows_artifact(version);
        const std::array<const std::string*, 4> ordered = {
            &names.archive, &names.checksum, &names.signature, &names.checksum_signature};
        for (std::size_t i = 0; i < ordered.size(); ++i) {
            const std::string path = artifact_path(version, *ordered[i]);
            const std::filesystem::path file = tree_path(root, path);
            Outcome<Bytes> bytes = read_at_most(file, release_file_size_limits[i] + 1);
            if (!bytes)
                return std::move(bytes).error();
            if (bytes->size() > release_file_size_limits[i])
                return Failure{file.string() + ": " + std::string(size_limit_message)};
            tree.files.push_back({store_key(path), file, bytes->size(), lower_hex(sha256(*bytes)),
                                  artifact_content_types[i]});
        }
    }
    return tree;
}

Outcome<Bytes> read_unchanged(const LocalFile& file) {
    Outcome<Bytes> bytes = read_at_most(file.path, file.size + 1);
    if (!bytes)
        return std::move(bytes).error();
    if (bytes->size() != file.size || lower_hex(sha256(*bytes)) != file.sha256)
        return Failure{file.path.string() + " changed during the upload; run it again"};
    return bytes;
}

}  // namespace vantrel::release_tool
