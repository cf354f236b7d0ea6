#pragma once

#include <filesystem>
#include <string_view>

#include "lib/public_key.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Checks a release in the tree completely, as the setup would against the manifest
// that publish or promote writes for it; gives the package's size.
Outcome<std::size_t> check_published_release(const std::filesystem::path& root,
                                             std::string_view version, const PublicKey& key);

}  // namespace vantrel::release_tool
