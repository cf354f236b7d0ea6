#include "vantrel-release/release_tree.hpp"

#include <array>

#include "lib/release_limits.hpp"
#include "vantrel-release/file_io.hpp"

namespace vantrel::release_tool {

std::filesystem::path tree_path(const std::filesystem::path& root, std::string_view server_path) {
    return root / std::filesystem::path(server_path).relative_path();
}

std::filesystem::path release_folder(const std::filesystem::path& root, std::string_view version) {
    return tree_path(root, artifact_path(version, "")).parent_path();
}

Outcome<ReleaseFiles> read_release_files(const std::filesystem::path& root,
                                         const Manifest& manifest) {
    const std::array<std::string_view, 4> names = windows_artifact(manifest);
    ReleaseFiles files;
    const std::array<Bytes*, 4> targets = {&files.package, &files.checksum, &files.signature,
                                           &files.checksum_signature};
    const std::array<std::size_t, 4> limits = {package_size_limit, companion_size_limit,
                                               companion_size_limit, companion_size_limit};
    for (std::size_t i = 0; i < names.size(); ++i) {
        Outcome<Bytes> read =
            read_at_most(tree_path(root, artifact_path(manifest.version, names[i])), limits[i] + 1);
        if (!read)
            return std::move(read).error();
        *targets[i] = std::move(read).value();
    }
    return files;
}

}  // namespace vantrel::release_tool
