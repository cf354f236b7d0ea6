#pragma once

#include <filesystem>

#include "lib/public_key.hpp"
#include "vantrel-release/minisign_keys.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Reads and decodes a minisign public key file with the setup's own decoder.
Outcome<PublicKey> load_public_key(const std::filesystem::path& path);

// Reads a minisign secret key file, asking for its password when it is encrypted.
Outcome<SecretKey> load_secret_key(const std::filesystem::path& path);

}  // namespace vantrel::release_tool
