#include "vantrel-release/release_tree.hpp"

#include <array>
#include <string>
#include <system_error>

#include "lib/release_limits.hpp"
#include "vantrel-release/file_io.hpp"

namespace vantrel::release_tool {

std::filesystem::path tree_path(const std::filesystem::path& root, std::string_view server_path) {
    return root / std::filesystem::path(server_path).relative_path();
}

std::filesystem::path release_folder(const std::filesystem::path& root, std::string_view version) {
    return tree_path(root, artifact_path(version, "")).parent_path();
}

Done check_published_tree(const std::filesystem::path& root) {
    std::error_code code;
    if (!std::filesystem::is_directory(tree_path(root, release_root), code))
        return Failure{root.string() + ": not a published tree (no " +
                       std::string(release_root.substr(1)) + " folder)"};
    return {};
}

Done write_stable_manifest(const std::filesystem::path& root, ByteView manifest) {
    const std::filesystem::path file = tree_path(root, manifest_path);
    if (Done created = create_folders(file.parent_path()); !created)
        return created;
    return write_file_atomically(file, manifest, published_mode, Existing::Replace);
}

std::optional<std::string> stable_version(const std::filesystem::path& root) {
    Outcome<Bytes> body = read_at_most(tree_path(root, manifest_path), manifest_size_limit + 1);
    if (!body)
        return std::nullopt;
    Result<Manifest> manifest = parse_manifest(*body);
    if (!manifest)
        return std::nullopt;
    return manifest->version;
}

Outcome<ReleaseFiles> read_release_files(const std::filesystem::path& root,
                                         const Manifest& manifest) {
    const std::array<std::string_view, 4> names = windows_artifact(manifest);
    ReleaseFiles files;
    const std::array<Bytes*, 4> targets = {&files.package, &files.checksum, &files.signature,
                                           &files.checksum_signature};
    for (std::size_t i = 0; i < names.size(); ++i) {
        Outcome<Bytes> read =
            read_at_most(tree_path(root, artifact_path(manifest.version, names[i])),
                         release_file_size_limits[i] + 1);
        if (!read)
            return std::move(read).error();
        *targets[i] = std::move(read).value();
    }
    return files;
}

}  // namespace vantrel::release_tool
