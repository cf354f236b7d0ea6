#pragma once

#include <filesystem>
#include <string_view>

#include "lib/manifest.hpp"
#include "lib/release_files.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Where the file the setup fetches from a server path ("/vantrel/...") lies in a
// published tree rooted at `root`.
std::filesystem::path tree_path(const std::filesystem::path& root, std::string_view server_path);

// The folder of a release's four files in the tree.
std::filesystem::path release_folder(const std::filesystem::path& root, std::string_view version);

// Reads the four files a manifest names from the tree, each up to one byte past
// its limit, so that the setup's own size check sees an oversized file as such.
Outcome<ReleaseFiles> read_release_files(const std::filesystem::path& root,
                                         const Manifest& manifest);

}  // namespace vantrel::release_tool
