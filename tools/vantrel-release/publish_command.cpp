#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "lib/release_limits.hpp"
#include "lib/release_verification.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"
#include "vantrel-release/file_io.hpp"
#include "vantrel-release/key_files.hpp"
#include "vantrel-release/minisign_keys.hpp"
#include "vantrel-release/release_builder.hpp"
#include "vantrel-release/release_tree.hpp"

namespace vantrel::release_tool {
namespace {

constexpr std::array<OptionDefinition, 5> publish_options{{
    {"secret", true, true},
    {"version", true, true},
    {"launcher", true, true},
    {"out", true, true},
    {"force", false, false},
}};

constexpr std::string_view publish_help =
    R"(Usage: vantrel-release publish --secret K.key --version X.Y.Z --launcher FILE
                              --out DIR [--force]

Packs and signs a launcher as release X.Y.Z and writes the tree a static HTTPS
host serves as it is:
  DIR/vantrel/launcher/X.Y.Z/                 package, checksum file, signatures
  DIR/vantrel/launcher/stable/manifest.json   names that release

  --secret FILE    minisign secret key, unencrypted or encrypted with a
                   password (read from the terminal, or as the first line of
                   standard input)
  --version X.Y.Z  three groups of digits separated by dots
  --launcher FILE  the Windows x86-64 launcher executable
  --out DIR        root of the published tree
  --force          replace files of this version already in DIR

Every file is written under a temporary name and renamed into place. The
manifest comes last, after the setup's own checks passed on the files as
written, so a failed or interrupted publish leaves the previous manifest in
place. The signatures' trusted comments carry the time of SOURCE_DATE_EPOCH
when it is set, else the current time.
)";

Outcome<std::int64_t> release_timestamp() {
    const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
    if (fixed == nullptr)
        return static_cast<std::int64_t>(std::time(nullptr));
    const std::string_view text(fixed);
    std::int64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds < 0)
        return Failure{"SOURCE_DATE_EPOCH is not a number of seconds: " + std::string(text)};
    return seconds;
}

constexpr std::string_view setup_refuses = "the setup would refuse this release:\n";

// What the setup would install from these files must be the launcher given.
Done check_as_setup(const Manifest& manifest, const ReleaseFiles& files, const PublicKey& key,
                    ByteView launcher) {
    Result<Bytes> installed = verify_release(manifest, files, key);
    if (!installed)
        return Failure{std::string(setup_refuses) + installed.error().display()};
    if (!std::equal(installed->begin(), installed->end(), launcher.begin(), launcher.end()))
        return Failure{"the setup would install other bytes than the launcher given"};
    return {};
}

Done write_release_files(const std::filesystem::path& folder, const Release& release) {
    const std::array<std::pair<const std::string*, const Bytes*>, 4> files = {{
        {&release.names.archive, &release.files.package},
        {&release.names.checksum, &release.files.checksum},
        {&release.names.signature, &release.files.signature},
        {&release.names.checksum_signature, &release.files.checksum_signature},
    }};
    for (const auto& [name, bytes] : files) {
        if (Done written =
                write_file_atomically(folder / *name, *bytes, published_mode, Existing::Replace);
            !written) {
            return written;
        }
    }
    return {};
}

Done refuse_existing(const std::filesystem::path& folder, const Release& release) {
    for (const std::string* name : {&release.names.archive, &release.names.checksum,
                                    &release.names.signature, &release.names.checksum_signature}) {
        std::error_code code;
        if (std::filesystem::symlink_status(folder / *name, code).type() !=
            std::filesystem::file_type::not_found) {
            return Failure{"release " + release.version + " is already in " + folder.string() +
                           " (--force replaces it)"};
        }
    }
    return {};
}

Done run_publish(const Arguments& arguments) {
    const std::string_view version = *arguments.value("version");
    const std::filesystem::path root(*arguments.value("out"));
    const std::filesystem::path launcher_path(*arguments.value("launcher"));

    if (Done accepted = check_release_version(version); !accepted)
        return accepted;
    Outcome<std::int64_t> timestamp = release_timestamp();
    if (!timestamp)
        return std::move(timestamp).error();
    Outcome<SecretKey> key = load_secret_key(*arguments.value("secret"));
    if (!key)
        return std::move(key).error();
    Outcome<Bytes> launcher = read_at_most(launcher_path, launcher_size_limit + 1);
    if (!launcher)
        return std::move(launcher).error();

    Outcome<Release> release = build_release(*key, version, *launcher, *timestamp);
    if (!release)
        return std::move(release).error();
    Result<PublicKey> public_key = decode_public_key(public_key_text(*key));
    if (!public_key)
        return failure_of(public_key.error());
    // The setup's own checks, in its order: in memory first, so that nothing of a
    // refused release is written.
    Result<Manifest> manifest = parse_manifest(release->manifest);
    if (!manifest)
        return Failure{std::string(setup_refuses) + manifest.error().display()};
    if (Done checked = check_as_setup(*manifest, release->files, *public_key, *launcher); !checked)
        return checked;

    const std::filesystem::path folder = release_folder(root, version);
    if (!arguments.has("force")) {
        if (Done fresh = refuse_existing(folder, *release); !fresh)
            return fresh;
    }
    if (Done created = create_folders(folder); !created)
        return created;
    if (Done written = write_release_files(folder, *release); !written)
        return written;

    // Checked again as written, before the manifest points at it.
    Outcome<ReleaseFiles> written = read_release_files(root, *manifest);
    if (!written)
        return std::move(written).error();
    if (Done checked = check_as_setup(*manifest, *written, *public_key, *launcher); !checked)
        return checked;

    if (Done saved = write_stable_manifest(root, release->manifest); !saved)
        return saved;
    write_standard_output("Published launcher " + release->version + " in " + folder.string() +
                          "\nManifest: " + tree_path(root, manifest_path).string() + "\n");
    return {};
}

}  // namespace

const Command publish_command{
    "publish",   "pack, sign and publish a launcher release", publish_help, publish_options, 0,
    run_publish,
};

}  // namespace vantrel::release_tool
