#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/manifest.hpp"
#include "lib/release_files.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Where the file the setup fetches from a server path ("/vantrel/...") lies in a
// published tree rooted at `root`.
std::filesystem::path tree_path(const std::filesystem::path& root, std::string_view server_path);

// The folder of a release's four files in the tree.
std::filesystem::path release_folder(const std::filesystem::path& root, std::string_view version);

// Every published file: readable by the host that serves the tree.
inline constexpr mode_t published_mode = 0644;

// Refuses a root that holds no release folder ("vantrel/launcher/").
Done check_published_tree(const std::filesystem::path& root);

// Points the tree's stable manifest at a release: the whole file replaces the old
// one at once, so a reader sees either of them, never a mix.
Done write_stable_manifest(const std::filesystem::path& root, ByteView manifest);

// The version the tree's stable manifest names, if it holds one the setup reads.
std::optional<std::string> stable_version(const std::filesystem::path& root);

// Reads the four files a manifest names from the tree, each up to one byte past
// its limit, so that the setup's own size check sees an oversized file as such.
Outcome<ReleaseFiles> read_release_files(const std::filesystem::path& root,
                                         const Manifest& manifest);

}  // namespace vantrel::release_tool
