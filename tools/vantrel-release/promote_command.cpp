#include <array>
#include <filesystem>
#include <string>

#include "lib/manifest.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"
#include "vantrel-release/key_files.hpp"
#include "vantrel-release/release_builder.hpp"
#include "vantrel-release/release_check.hpp"
#include "vantrel-release/release_tree.hpp"

namespace vantrel::release_tool {
namespace {

constexpr std::array<OptionDefinition, 2> promote_options{{
    {"key", true, true},
    {"version", true, true},
}};

constexpr std::string_view promote_help =
    R"(Usage: vantrel-release promote --key K.pub --version X.Y.Z DIR

Points DIR/vantrel/launcher/stable/manifest.json at release X.Y.Z, which must
already be published in DIR. Rolling back is promoting an older release.

  DIR              root of the published tree
  --key FILE       minisign public key the setup is built with
  --version X.Y.Z  the release stable is to name

The release's four files are checked first, completely and as the setup would
check them against the new manifest; a release that is missing or does not
verify is refused and the manifest is left as it was. The new manifest is
written under a temporary name, flushed and renamed over the old one, so that
a host serving the tree never serves half a manifest.
)";

Done run_promote(const Arguments& arguments) {
    const std::filesystem::path root(arguments.operands().front());
    const std::string_view version = *arguments.value("version");
    if (Done accepted = check_release_version(version); !accepted)
        return accepted;
    Outcome<PublicKey> key = load_public_key(*arguments.value("key"));
    if (!key)
        return std::move(key).error();
    if (Done tree = check_published_tree(root); !tree)
        return tree;
    if (Done checked = check_published_release(root, version, *key); !checked) {
        return Failure{"release " + std::string(version) +
                       " is not promoted: " + checked.error().message};
    }

    const std::optional<std::string> previous = stable_version(root);
    if (Done written =
            write_stable_manifest(root, manifest_json(version, expected_windows_artifact(version)));
        !written) {
        return written;
    }
    write_standard_output("Stable now names launcher " + std::string(version) + " (was " +
                          previous.value_or("none") + ")\n");
    return {};
}

}  // namespace

const Command promote_command{
    "promote",
    "point stable at a published release (forward or back)",
    promote_help,
    promote_options,
    1,
    run_promote,
};

}  // namespace vantrel::release_tool
