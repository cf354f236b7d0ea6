#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/bytes.hpp"
#include "lib/progress.hpp"
#include "lib/release_files.hpp"
#include "lib/update_steps.hpp"
#include "scripted_failures.hpp"
#include "windows_installer/windows_update_steps.hpp"

namespace vantrel::testing {

// A copy of the fixture launcher that answers the probe with version, and behaves
// as mode (empty: the normal answer) in the probe and when started.
Bytes fixture_launcher_release(std::string_view version, std::string_view mode = {});

// The download host's tree in memory, signed with the test release key by the
// publisher's own code.
class ReleaseTree {
  public:
    // Publishes a release of this launcher and makes it the current one.
    const ReleaseFiles& publish(std::string_view version, const Bytes& launcher);

    // The body served at path, or nothing (the host answers 404).
    std::optional<Bytes> body(std::string_view path) const;
    void replace(std::string_view path, Bytes body) {
        bodies_[std::string(path)] = std::move(body);
    }

  private:
    std::map<std::string, Bytes, std::less<>> bodies_;
    std::map<std::string, ReleaseFiles, std::less<>> releases_;
};

// The real steps on a real disk, but the download host is a ReleaseTree and any named
// steps fail as the real ones would: "download <file name>" or a step's name below.
class ScriptedSteps final : public UpdateSteps, public ScriptedFailures {
    // Every step not named otherwise fails with this stage.
    template <class Call>
    auto on(std::string_view step, Call&& call) {
        return unless_failing(step, Stage::Installation, std::forward<Call>(call));
    }

  public:
    ScriptedSteps(WindowsUpdateSteps& real, const ReleaseTree& tree) : real_(real), tree_(tree) {}

    Status find_launcher_folder() override {
        return on("find folder", [&] { return real_.find_launcher_folder(); });
    }
    // "key": a key text that does not decode.
    std::string_view release_key() override {
        return failing("key") ? std::string_view("not a key") : real_.release_key();
    }
    Result<Bytes> download(std::string_view path, std::uint64_t limit,
                           const DownloadProgressHook& progress) override;
    Status create_launcher_folder() override {
        return on("create folder", [&] { return real_.create_launcher_folder(); });
    }
    Status take_launcher_lock() override {
        return on("lock", [&] { return real_.take_launcher_lock(); });
    }
    void release_launcher_lock() override { real_.release_launcher_lock(); }
    IoResult<ReleaseFiles> read_cache() override {
        return on("read cache", [&] { return real_.read_cache(); });
    }
    IoStatus write_cache(const ReleaseFiles& files) override {
        return on("write cache", [&] { return real_.write_cache(files); });
    }
    IoResult<Bytes> read_installed_launcher(std::size_t limit) override {
        return on("read launcher", [&] { return real_.read_installed_launcher(limit); });
    }
    IoStatus check_regular_file(LauncherCopy copy) override {
        return on(copy == LauncherCopy::Installed ? "check installed" : "check staged",
                  [&] { return real_.check_regular_file(copy); });
    }
    Status probe_launcher_version(LauncherCopy copy, std::string_view version) override {
        return on(copy == LauncherCopy::Installed ? "probe installed" : "probe staged",
                  [&] { return real_.probe_launcher_version(copy, version); });
    }
    Status start_launcher() override {
        return unless_failing("start", Stage::Launch, [&] { return real_.start_launcher(); });
    }
    IoStatus create_run_folder() override {
        return on("create run folder", [&] { return real_.create_run_folder(); });
    }
    std::string run_folder_path() override { return real_.run_folder_path(); }
    void keep_run_folder() override { real_.keep_run_folder(); }
    void remove_run_folder() override { real_.remove_run_folder(); }
    void remove_stale_run_folders() override { real_.remove_stale_run_folders(); }
    IoStatus write_staged_launcher(ByteView launcher) override {
        return on("write staged", [&] { return real_.write_staged_launcher(launcher); });
    }
    IoStatus flush_staged_launcher() override {
        return on("flush staged", [&] { return real_.flush_staged_launcher(); });
    }
    IoResult<bool> installed_launcher_exists() override {
        return on("exists", [&] { return real_.installed_launcher_exists(); });
    }
    IoStatus back_up_installed_launcher() override {
        return on("back up", [&] { return real_.back_up_installed_launcher(); });
    }
    IoStatus move_staged_launcher_into_place() override {
        return on("move", [&] { return real_.move_staged_launcher_into_place(); });
    }
    // Both ways of putting the previous state back.
    IoStatus restore_backup() override {
        return on("restore", [&] { return real_.restore_backup(); });
    }
    IoStatus delete_installed_launcher() override {
        return on("restore", [&] { return real_.delete_installed_launcher(); });
    }
    Status refresh_shortcuts() override {
        return on("shortcuts", [&] { return real_.refresh_shortcuts(); });
    }

  private:
    WindowsUpdateSteps& real_;
    const ReleaseTree& tree_;
};

// The kinds reported, one for each event.
class RecordingReporter final : public ProgressReporter {
  public:
    void report(const ProgressEvent& event) override;
    const std::vector<ProgressKind>& kinds() const { return kinds_; }

  private:
    std::vector<ProgressKind> kinds_;
};

}  // namespace vantrel::testing
