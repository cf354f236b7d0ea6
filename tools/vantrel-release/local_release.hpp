#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "lib/bytes.hpp"
#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// A release file of the tree, under the key it is stored at (its server path
// without the leading "/").
struct LocalFile {
    std::string key;
    std::filesystem::path path;
    std::uint64_t size;
    std::string sha256;  // lower-case hex
    std::string_view content_type;
};

// A published tree that verifies: its stable manifest and every versioned file.
struct LocalTree {
    Bytes manifest_bytes;
    Manifest manifest;
    std::vector<LocalFile> files;  // oldest version first, each in artifact order
};

// Verifies the tree exactly as verify does, then reads and hashes the four files of
// every version folder, each under the setup's limit for it.
Outcome<LocalTree> read_local_tree(const std::filesystem::path& root, const PublicKey& key);

// Reads a file again for its upload: it must still be the bytes that were hashed.
Outcome<Bytes> read_unchanged(const LocalFile& file);

// The key a server path ("/vantrel/...") is stored at.
std::string store_key(std::string_view server_path);

inline constexpr std::string_view manifest_content_type = "application/json";

}  // namespace vantrel::release_tool
