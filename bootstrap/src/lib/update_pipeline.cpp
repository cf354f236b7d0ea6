#include "lib/update_pipeline.hpp"

#include <array>
#include <optional>
#include <string>
#include <utility>

#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "lib/release_limits.hpp"
#include "lib/release_verification.hpp"

namespace vantrel {
namespace {

// Only the package reports its progress; the companion files are small.
struct PackageProgress {
    ProgressReporter& reporter;

    void operator()(std::uint64_t downloaded, std::optional<std::uint64_t> total) {
        reporter.report(ProgressEvent(DownloadProgress{downloaded, total}));
    }
};

Status installation_step(IoStatus status) {
    return with_stage(Stage::Installation, std::move(status));
}

// One run of the update: the check phase, then the replacement phase when the
// installed launcher is not the verified current release.
class UpdateRun {
  public:
    UpdateRun(ProgressReporter& reporter, PipelineForm form, UpdateSteps& steps)
        : reporter_(reporter), form_(form), steps_(steps) {}

    Status run() {
        if (auto found = steps_.find_launcher_folder(); !found)
            return found;
        report(ProgressKind::CheckingForUpdate);
        Result<Bytes> body = steps_.download(manifest_path, manifest_size_limit, {});
        if (!body)
            return std::move(body).error();
        Result<Manifest> manifest = parse_manifest(*body);
        if (!manifest)
            return std::move(manifest).error();
        Result<PublicKey> key = decode_public_key(steps_.release_key());
        if (!key)
            return std::move(key).error();
        // Nothing on disk changes before the manifest has passed its checks.
        if (auto created = steps_.create_launcher_folder(); !created)
            return created;
        if (auto locked = steps_.take_launcher_lock(); !locked)
            return locked;

        Status outcome = update_under_lock(*manifest, *key);
        // No other setup can own a run folder while the lock is held: any other one is
        // left by a run that was killed, or kept by a recovery that this run has made moot.
        if (outcome)
            steps_.remove_stale_run_folders();
        steps_.remove_run_folder();
        steps_.release_launcher_lock();
        // The refresh takes both setup locks itself, so it waits until ours is free.
        if (outcome && form_ == PipelineForm::Wizard)
            outcome = steps_.refresh_shortcuts();
        return outcome;
    }

  private:
    void report(ProgressEvent event) { reporter_.report(event); }

    Status update_under_lock(const Manifest& manifest, const PublicKey& key) {
        if (installed_is_current(manifest, key))
            return finish_up_to_date(manifest.version);
        report(ProgressKind::UpdateCheckDone);
        return download_and_replace(manifest, key);
    }

    // The cache is never trusted by itself: whatever is wrong with it only means that
    // the release is downloaded again.
    bool installed_is_current(const Manifest& manifest, const PublicKey& key) {
        IoResult<ReleaseFiles> cached = steps_.read_cache();
        if (!cached)
            return false;
        Result<Bytes> launcher = verify_release(manifest, *cached, key);
        return launcher && installed_equals(*launcher);
    }

    bool installed_equals(const Bytes& launcher) {
        IoResult<Bytes> installed = steps_.read_installed_launcher(launcher_size_limit);
        return installed && *installed == launcher;
    }

    // A launcher that equals the verified release but does not answer its probe is a
    // failed run, not a reason to download.
    Status finish_up_to_date(std::string_view version) {
        if (auto checked = check_installed(version); !checked)
            return checked;
        report(ProgressKind::UpdateCheckDone);
        report(ProgressKind::StartingLauncher);
        return start_in_console();
    }

    Status check_installed(std::string_view version) {
        if (auto regular = installation_step(steps_.check_regular_file(LauncherCopy::Installed));
            !regular) {
            return regular;
        }
        return steps_.probe_launcher_version(LauncherCopy::Installed, version);
    }

    Status start_in_console() {
        return form_ == PipelineForm::Console ? steps_.start_launcher() : Status();
    }

    Status download_and_replace(const Manifest& manifest, const PublicKey& key) {
        report(DownloadStarted{manifest.version});
        Result<ReleaseFiles> files = download_release(manifest);
        if (!files)
            return std::move(files).error();
        report(ProgressKind::DownloadFinished);
        report(ProgressKind::Verifying);
        Result<Bytes> launcher = verify_release(manifest, *files, key);
        if (!launcher)
            return std::move(launcher).error();
        report(ProgressKind::Verified);
        if (installed_equals(*launcher))
            return confirm_installed(manifest.version, *files);
        return replace(manifest.version, *launcher, *files);
    }

    Result<ReleaseFiles> download_release(const Manifest& manifest) {
        const std::array<std::string_view, 4> names = windows_artifact(manifest);
        ReleaseFiles files;
        const std::array<Bytes*, 4> bodies = {&files.package, &files.checksum, &files.signature,
                                              &files.checksum_signature};
        PackageProgress package_progress{reporter_};
        for (std::size_t index = 0; index < names.size(); ++index) {
            const bool package = index == 0;
            Result<Bytes> body = steps_.download(
                artifact_path(manifest.version, names[index]), release_file_size_limits[index],
                package ? progress_hook_for(package_progress) : DownloadProgressHook{});
            if (!body)
                return std::move(body).error();
            *bodies[index] = std::move(body).value();
        }
        return files;
    }

    // The downloaded release is the installed launcher already (the cache was lost):
    // only the cache is written again.
    Status confirm_installed(std::string_view version, const ReleaseFiles& files) {
        if (auto checked = check_installed(version); !checked)
            return checked;
        report(ProgressKind::StartingLauncher);
        save_cache(files);
        return start_in_console();
    }

    void save_cache(const ReleaseFiles& files) {
        if (!steps_.write_cache(files))
            report(ProgressKind::CacheSaveFailed);
    }

    // The new launcher proves itself from the run folder under its final name before
    // the old one, copied aside first, is replaced.
    Status replace(std::string_view version, const Bytes& launcher, const ReleaseFiles& files) {
        report(ProgressKind::Installing);
        if (auto status = stage_new_launcher(version, launcher); !status)
            return status;
        IoResult<bool> existed = steps_.installed_launcher_exists();
        if (!existed)
            return Error::from_io(Stage::Installation, existed.error());
        if (*existed) {
            if (auto backed_up = installation_step(steps_.back_up_installed_launcher());
                !backed_up) {
                return backed_up;
            }
        }
        if (auto moved = steps_.move_staged_launcher_into_place(); !moved) {
            return Error::from_composed(Stage::Installation,
                                        std::string(close_launcher_prefix) + moved.error().text());
        }
        // Nothing to go back to if this fails: the new launcher passed its probe.
        if (auto regular = installation_step(steps_.check_regular_file(LauncherCopy::Installed));
            !regular) {
            return regular;
        }
        report(ProgressKind::Installed);
        report(ProgressKind::StartingLauncher);
        save_cache(files);
        if (form_ == PipelineForm::Wizard)
            return {};
        Status started = steps_.start_launcher();
        if (started)
            return started;
        return restore_previous(std::move(started).error(), *existed);
    }

    Status stage_new_launcher(std::string_view version, const Bytes& launcher) {
        if (auto status = installation_step(steps_.create_run_folder()); !status)
            return status;
        if (auto status = installation_step(steps_.write_staged_launcher(launcher)); !status)
            return status;
        if (auto status = installation_step(steps_.flush_staged_launcher()); !status)
            return status;
        if (auto status = installation_step(steps_.check_regular_file(LauncherCopy::Staged));
            !status) {
            return status;
        }
        return steps_.probe_launcher_version(LauncherCopy::Staged, version);
    }

    // The cache is left alone: it describes the new release, whose launcher now differs
    // from the installed one, so the next run installs it again.
    Status restore_previous(Error launch_failure, bool existed) {
        report(ProgressKind::RestoringPrevious);
        IoStatus restored = existed ? steps_.restore_backup() : steps_.delete_installed_launcher();
        if (restored) {
            report(ProgressKind::PreviousRestored);
            return launch_failure;
        }
        steps_.keep_run_folder();
        return Error::from_composed(Stage::Installation, launch_failure.display() +
                                                             std::string(recovery_failed_infix) +
                                                             restored.error().text() +
                                                             std::string(previous_retained_infix) +
                                                             steps_.run_folder_path());
    }

    ProgressReporter& reporter_;
    PipelineForm form_;
    UpdateSteps& steps_;
};

}  // namespace

UpdateResult update_launcher(ProgressReporter& reporter, PipelineForm form, UpdateSteps& steps) {
    Status outcome = UpdateRun(reporter, form, steps).run();
    if (outcome)
        return {};
    if (form == PipelineForm::Wizard)
        return UpdateFailure(user_message(outcome.error().stage()));
    return UpdateFailure(std::move(outcome).error());
}

}  // namespace vantrel
