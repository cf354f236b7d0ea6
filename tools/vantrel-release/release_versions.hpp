#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Versions in numeric order: a group with more digits (leading zeros aside) is larger.
bool earlier_version(std::string_view left, std::string_view right);

// The release folders of a published tree, oldest first.
Outcome<std::vector<std::string>> published_versions(const std::filesystem::path& root);

}  // namespace vantrel::release_tool
