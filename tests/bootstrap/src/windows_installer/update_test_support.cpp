#include "update_test_support.hpp"

#include "lib/internal_fault.hpp"
#include "lib/manifest.hpp"
#include "programs/fixture_launcher_modes.hpp"
#include "support/windows_test_support.hpp"
#include "vantrel-release/minisign_keys.hpp"
#include "vantrel-release/release_builder.hpp"

namespace vantrel::testing {
namespace {

constexpr std::int64_t release_time = 1767225600;

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

const release_tool::SecretKey& test_release_key() {
    static const release_tool::SecretKey key = [] {
        const std::optional<std::string> text =
            read_file(windows_path_of_source_file("tests/keys/release-test.key"));
        if (!text)
            internal_fault("tests/keys/release-test.key is missing");
        auto secret = release_tool::read_secret_key(bytes_of(*text), [] {
            return release_tool::Outcome<std::string>(release_tool::Failure{"encrypted"});
        });
        if (!secret)
            internal_fault(secret.error().message);
        return std::move(secret).value();
    }();
    return key;
}

}  // namespace

Bytes fixture_launcher_release(std::string_view version, std::string_view mode) {
    std::optional<std::string> image = read_file(test_program_path("fixture_launcher"));
    if (!image)
        internal_fault("fixture_launcher.exe is not built");
    *image += fixture_launcher::trailer_marker;
    *image += std::string(version) + " " + std::string(mode) + "\n";
    return bytes_of(*image);
}

const ReleaseFiles& ReleaseTree::publish(std::string_view version, const Bytes& launcher) {
    auto release = release_tool::build_release(test_release_key(), version, launcher, release_time);
    if (!release)
        internal_fault(release.error().message);
    const Artifact& names = release->names;
    bodies_[artifact_path(version, names.archive)] = release->files.package;
    bodies_[artifact_path(version, names.checksum)] = release->files.checksum;
    bodies_[artifact_path(version, names.signature)] = release->files.signature;
    bodies_[artifact_path(version, names.checksum_signature)] = release->files.checksum_signature;
    bodies_[std::string(manifest_path)] = release->manifest;
    return releases_[std::string(version)] = std::move(release->files);
}

std::optional<Bytes> ReleaseTree::body(std::string_view path) const {
    const auto found = bodies_.find(path);
    if (found == bodies_.end())
        return std::nullopt;
    return found->second;
}

Result<Bytes> ScriptedSteps::download(std::string_view path, std::uint64_t limit,
                                      const DownloadProgressHook& progress) {
    const std::string_view name = path.substr(path.rfind('/') + 1);
    if (failing("download " + std::string(name)))
        return injected(Stage::Network);
    std::optional<Bytes> body = tree_.body(path);
    if (!body || body->size() > limit)
        return Error::from_text(Stage::Network, "not served");
    progress(0, body->size());
    progress(body->size(), body->size());
    return std::move(body).value();
}

void RecordingReporter::report(const ProgressEvent& event) {
    kinds_.push_back(event.kind());
}

}  // namespace vantrel::testing
