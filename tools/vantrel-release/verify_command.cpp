#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <string>

#include "lib/manifest.hpp"
#include "lib/release_limits.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"
#include "vantrel-release/file_io.hpp"
#include "vantrel-release/key_files.hpp"
#include "vantrel-release/release_check.hpp"
#include "vantrel-release/release_tree.hpp"

namespace vantrel::release_tool {
namespace {

constexpr mode_t extracted_mode = 0644;

constexpr std::array<OptionDefinition, 3> verify_options{{
    {"key", true, true},
    {"manifest", true, false},
    {"extract", true, false},
}};

constexpr std::string_view verify_help =
    R"(Usage: vantrel-release verify --key K.pub [--manifest FILE] [--extract OUT] DIR

Checks a published release with the setup's own code, in its order: the
manifest, the key, then the four files the manifest names.

  DIR              root of the published tree; the release's files are read
                   from DIR/vantrel/launcher/<version>/
  --key FILE       minisign public key to check the signatures against
  --manifest FILE  the manifest (default DIR/vantrel/launcher/stable/manifest.json)
  --extract OUT    after the checks passed, write the launcher to OUT

Exit status: 0 when the setup would install the release, 1 when it would
refuse it (the last line of standard error is then the setup's message, for
example "Verification failed: The signature verification failed"), 2 for a
usage error.
)";

Done run_verify(const Arguments& arguments) {
    const std::filesystem::path root(arguments.operands().front());
    const std::filesystem::path manifest_file =
        arguments.value("manifest") ? std::filesystem::path(*arguments.value("manifest"))
                                    : tree_path(root, manifest_path);

    Outcome<Bytes> manifest_body = read_at_most(manifest_file, manifest_size_limit + 1);
    if (!manifest_body)
        return std::move(manifest_body).error();
    Result<Manifest> manifest = parse_manifest(*manifest_body);
    if (!manifest)
        return failure_of(manifest.error());

    Outcome<PublicKey> key = load_public_key(*arguments.value("key"));
    if (!key)
        return std::move(key).error();

    Outcome<Bytes> launcher = verify_published_files(root, *manifest, *key);
    if (!launcher)
        return std::move(launcher).error();

    if (const auto out = arguments.value("extract")) {
        if (Done written = write_file_atomically(std::filesystem::path(*out), *launcher,
                                                 extracted_mode, Existing::Replace);
            !written) {
            return written;
        }
    }
    write_standard_output("Verified launcher " + manifest->version + " (" +
                          std::to_string(launcher->size()) + " bytes)\n");
    return {};
}

}  // namespace

const Command verify_command{
    "verify",   "check a published release as the setup does", verify_help, verify_options, 1,
    run_verify,
};

}  // namespace vantrel::release_tool
