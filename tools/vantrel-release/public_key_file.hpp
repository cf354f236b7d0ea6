#pragma once

#include <filesystem>

#include "lib/public_key.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Reads and decodes a minisign public key file with the setup's own decoder.
Outcome<PublicKey> load_public_key(const std::filesystem::path& path);

}  // namespace vantrel::release_tool
