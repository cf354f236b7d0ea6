#pragma once

#include <filesystem>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Reads the four files the manifest names from the tree and checks them with the setup's
// own code; gives the launcher the setup would install.
Outcome<Bytes> verify_published_files(const std::filesystem::path& root, const Manifest& manifest,
                                      const PublicKey& key);

// Checks a release in the tree completely, as the setup would against the manifest
// that publish or promote writes for it.
Done check_published_release(const std::filesystem::path& root, std::string_view version,
                             const PublicKey& key);

}  // namespace vantrel::release_tool
