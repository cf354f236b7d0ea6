#include <array>
#include <filesystem>
#include <string>

#include "lib/manifest.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"
#include "vantrel-release/key_files.hpp"
#include "vantrel-release/release_check.hpp"
#include "vantrel-release/release_tree.hpp"
#include "vantrel-release/release_versions.hpp"

namespace vantrel::release_tool {
namespace {

constexpr std::array<OptionDefinition, 1> list_options{{
    {"key", true, false},
}};

constexpr std::string_view list_help =
    R"(Usage: vantrel-release list [--key K.pub] DIR

One line per release published in DIR: its version, its package size, with
--key whether it verifies as the setup checks it, and "stable" for the release
the stable manifest names.

  DIR         root of the published tree
  --key FILE  minisign public key the setup is built with
)";

std::string package_size(const std::filesystem::path& root, const std::string& version) {
    std::error_code code;
    const auto size = std::filesystem::file_size(
        release_folder(root, version) / expected_windows_artifact(version).archive, code);
    return code ? "no package" : std::to_string(size) + " bytes";
}

Done run_list(const Arguments& arguments) {
    const std::filesystem::path root(arguments.operands().front());
    if (Done tree = check_published_tree(root); !tree)
        return tree;
    std::optional<PublicKey> key;
    if (const auto key_file = arguments.value("key")) {
        Outcome<PublicKey> loaded = load_public_key(*key_file);
        if (!loaded)
            return std::move(loaded).error();
        key = std::move(loaded).value();
    }
    Outcome<std::vector<std::string>> versions = published_versions(root);
    if (!versions)
        return std::move(versions).error();

    const std::optional<std::string> stable = stable_version(root);
    std::string text;
    for (const std::string& version : *versions) {
        text += version + "  " + package_size(root, version);
        if (key) {
            Done checked = check_published_release(root, version, *key);
            text += checked ? "  verifies" : "  does not verify: " + checked.error().message;
        }
        text += version == stable ? "  stable\n" : "\n";
    }
    if (versions->empty())
        text = "No release is published in " + root.string() + "\n";
    write_standard_output(text);
    return {};
}

}  // namespace

const Command list_command{
    "list",   "list the published releases and the one stable names", list_help, list_options, 1,
    run_list,
};

}  // namespace vantrel::release_tool
