#include "update_test_support.hpp"

#include <algorithm>

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

IoError injected() {
    return IoError::raised(std::string(injected_failure));
}

Error injected(Stage stage) {
    return Error::from_text(stage, injected_failure);
}

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

bool ScriptedSteps::failing(std::string_view step) const {
    return std::find(failing_.begin(), failing_.end(), step) != failing_.end();
}

Status ScriptedSteps::find_launcher_folder() {
    return failing("find folder") ? injected(Stage::Installation) : real_.find_launcher_folder();
}

Result<Bytes> ScriptedSteps::download(std::string_view path, std::uint64_t limit,
                                      const DownloadProgressHook& progress) {
    const std::string_view name = path.substr(path.rfind('/') + 1);
    if (failing(std::string(download_step_prefix) + std::string(name)))
        return injected(Stage::Network);
    std::optional<Bytes> body = tree_.body(path);
    if (!body || body->size() > limit)
        return Error::from_text(Stage::Network, "not served");
    progress(0, body->size());
    progress(body->size(), body->size());
    return std::move(body).value();
}

Status ScriptedSteps::create_launcher_folder() {
    return failing("create folder") ? injected(Stage::Installation)
                                    : real_.create_launcher_folder();
}

Status ScriptedSteps::take_launcher_lock() {
    return failing("lock") ? injected(Stage::Installation) : real_.take_launcher_lock();
}

IoResult<ReleaseFiles> ScriptedSteps::read_cache() {
    if (failing("read cache"))
        return injected();
    return real_.read_cache();
}

IoStatus ScriptedSteps::write_cache(const ReleaseFiles& files) {
    return failing("write cache") ? injected() : real_.write_cache(files);
}

IoResult<Bytes> ScriptedSteps::read_installed_launcher(std::size_t limit) {
    if (failing("read launcher"))
        return injected();
    return real_.read_installed_launcher(limit);
}

IoStatus ScriptedSteps::check_regular_file(LauncherCopy copy) {
    const bool installed = copy == LauncherCopy::Installed;
    return failing(installed ? "check installed" : "check staged") ? injected()
                                                                   : real_.check_regular_file(copy);
}

Status ScriptedSteps::probe_launcher_version(LauncherCopy copy, std::string_view version) {
    const bool installed = copy == LauncherCopy::Installed;
    return failing(installed ? "probe installed" : "probe staged")
               ? injected(Stage::Installation)
               : real_.probe_launcher_version(copy, version);
}

Status ScriptedSteps::start_launcher() {
    return failing("start") ? injected(Stage::Launch) : real_.start_launcher();
}

IoStatus ScriptedSteps::create_run_folder() {
    return failing("create run folder") ? injected() : real_.create_run_folder();
}

IoStatus ScriptedSteps::write_staged_launcher(ByteView launcher) {
    return failing("write staged") ? injected() : real_.write_staged_launcher(launcher);
}

IoStatus ScriptedSteps::flush_staged_launcher() {
    return failing("flush staged") ? injected() : real_.flush_staged_launcher();
}

IoResult<bool> ScriptedSteps::installed_launcher_exists() {
    if (failing("exists"))
        return injected();
    return real_.installed_launcher_exists();
}

IoStatus ScriptedSteps::back_up_installed_launcher() {
    return failing("back up") ? injected() : real_.back_up_installed_launcher();
}

IoStatus ScriptedSteps::move_staged_launcher_into_place() {
    return failing("move") ? injected() : real_.move_staged_launcher_into_place();
}

IoStatus ScriptedSteps::restore_backup() {
    return failing("restore") ? injected() : real_.restore_backup();
}

IoStatus ScriptedSteps::delete_installed_launcher() {
    return failing("restore") ? injected() : real_.delete_installed_launcher();
}

Status ScriptedSteps::refresh_shortcuts() {
    return failing("shortcuts") ? injected(Stage::Installation) : real_.refresh_shortcuts();
}

void RecordingReporter::report(const ProgressEvent& event) {
    if (event.kind() == ProgressKind::DownloadProgress && !kinds_.empty() &&
        kinds_.back() == ProgressKind::DownloadProgress) {
        return;
    }
    kinds_.push_back(event.kind());
}

}  // namespace vantrel::testing
