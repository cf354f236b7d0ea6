#include "vantrel-release/release_builder.hpp"

#include <nlohmann/json.hpp>

#include "lib/digest.hpp"
#include "lib/launcher_package.hpp"
#include "vantrel-release/launcher_archive.hpp"
#include "vantrel-release/minisign_signer.hpp"

namespace vantrel::release_tool {
namespace {

constexpr int manifest_indent = 2;

Bytes bytes_of(std::string_view text) {
    const ByteView view = as_bytes(text);
    return Bytes(view.begin(), view.end());
}

}  // namespace

Done check_release_version(std::string_view version) {
    if (is_valid_release_version(version))
        return {};
    return Failure{"version \"" + std::string(version) +
                   "\" would be refused by the setup: it takes three groups of digits separated "
                   "by dots"};
}

Outcome<Release> build_release(const SecretKey& key, std::string_view version, ByteView launcher,
                               std::int64_t timestamp) {
    if (Done accepted = check_release_version(version); !accepted)
        return std::move(accepted).error();
    if (Status image = check_executable(launcher); !image)
        return failure_of(image.error());
    Outcome<Bytes> package = pack_launcher(launcher);
    if (!package)
        return std::move(package).error();

    Release release{std::string(version), expected_windows_artifact(version), {}, {}};
    const Artifact& names = release.names;
    ReleaseFiles& files = release.files;
    files.package = std::move(package).value();
    files.checksum = bytes_of(checksum_file_text(files.package, names.archive));
    files.signature =
        bytes_of(sign_prehashed(key, files.package, trusted_comment_for(names.archive, timestamp)));
    files.checksum_signature = bytes_of(
        sign_prehashed(key, files.checksum, trusted_comment_for(names.checksum, timestamp)));
    release.manifest = manifest_json(version, names);
    return release;
}

std::string checksum_file_text(ByteView package, std::string_view archive_name) {
    return lower_hex(sha256(package)) + "  " + std::string(archive_name) + "\n";
}

Bytes manifest_json(std::string_view version, const Artifact& names) {
    const nlohmann::ordered_json manifest = {
        {"schema", manifest_schema},
        {"version", version},
        {"platforms",
         {{"windows_x86_64",
           {{"archive", names.archive},
            {"checksum", names.checksum},
            {"signature", names.signature},
            {"checksum_signature", names.checksum_signature}}}}},
    };
    return bytes_of(manifest.dump(manifest_indent) + "\n");
}

}  // namespace vantrel::release_tool
