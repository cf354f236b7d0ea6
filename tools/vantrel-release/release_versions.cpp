#include "vantrel-release/release_versions.hpp"

#include <algorithm>
#include <system_error>
#include <utility>

#include "lib/manifest.hpp"
#include "vantrel-release/release_tree.hpp"

namespace vantrel::release_tool {
namespace {

std::vector<std::string> version_groups(std::string_view version) {
    std::vector<std::string> groups;
    for (std::size_t start = 0;;) {
        const auto dot = version.find('.', start);
        std::string_view group = version.substr(start, dot - start);
        group.remove_prefix(std::min(group.find_first_not_of('0'), group.size()));
        groups.emplace_back(group);
        if (dot == std::string_view::npos)
            return groups;
        start = dot + 1;
    }
}

std::vector<std::pair<std::size_t, std::string>> version_order(std::string_view version) {
    std::vector<std::pair<std::size_t, std::string>> order;
    for (std::string& group : version_groups(version))
        order.emplace_back(group.size(), std::move(group));
    return order;
}

}  // namespace

bool earlier_version(std::string_view left, std::string_view right) {
    return version_order(left) < version_order(right);
}

Outcome<std::vector<std::string>> published_versions(const std::filesystem::path& root) {
    std::vector<std::string> versions;
    std::error_code code;
    for (const auto& entry :
         std::filesystem::directory_iterator(tree_path(root, release_root), code)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory(code) && is_valid_release_version(name))
            versions.push_back(name);
    }
    if (code)
        return Failure{tree_path(root, release_root).string() + ": " + code.message()};
    std::sort(versions.begin(), versions.end(), earlier_version);
    return versions;
}

}  // namespace vantrel::release_tool
