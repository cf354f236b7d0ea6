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

// Names of the steps that a test can make fail.
inline constexpr std::string_view download_step_prefix = "download ";

// The real steps on a real disk, but the download host is a ReleaseTree and any one
// named step can be made to fail as the real one would (with its stage).
class ScriptedSteps final : public UpdateSteps {
  public:
    ScriptedSteps(WindowsUpdateSteps& real, const ReleaseTree& tree) : real_(real), tree_(tree) {}

    // "download <file name>" or a step's name as listed in the source.
    void fail(std::vector<std::string> steps) { failing_ = std::move(steps); }

    Status find_launcher_folder() override;
    Result<Bytes> download(std::string_view path, std::uint64_t limit,
                           const DownloadProgressHook& progress) override;
    Status create_launcher_folder() override;
    Status take_launcher_lock() override;
    void release_launcher_lock() override { real_.release_launcher_lock(); }
    IoResult<ReleaseFiles> read_cache() override;
    IoStatus write_cache(const ReleaseFiles& files) override;
    IoResult<Bytes> read_installed_launcher(std::size_t limit) override;
    IoStatus check_regular_file(LauncherCopy copy) override;
    Status probe_launcher_version(LauncherCopy copy, std::string_view version) override;
    Status start_launcher() override;
    IoStatus create_run_folder() override;
    std::string run_folder_path() override { return real_.run_folder_path(); }
    void keep_run_folder() override { real_.keep_run_folder(); }
    void remove_run_folder() override { real_.remove_run_folder(); }
    IoStatus write_staged_launcher(ByteView launcher) override;
    IoStatus flush_staged_launcher() override;
    IoResult<bool> installed_launcher_exists() override;
    IoStatus back_up_installed_launcher() override;
    IoStatus move_staged_launcher_into_place() override;
    IoStatus restore_backup() override;
    IoStatus delete_installed_launcher() override;
    Status refresh_shortcuts() override;

  private:
    bool failing(std::string_view step) const;

    WindowsUpdateSteps& real_;
    const ReleaseTree& tree_;
    std::vector<std::string> failing_;
};

inline constexpr std::string_view injected_failure = "injected failure";
// A failure of a plain file step, or of a step with its own stage, made by a test.
IoError injected();
Error injected(Stage stage);

// The kinds reported, with each run of DownloadProgress events as one.
class RecordingReporter final : public ProgressReporter {
  public:
    void report(const ProgressEvent& event) override;
    const std::vector<ProgressKind>& kinds() const { return kinds_; }

  private:
    std::vector<ProgressKind> kinds_;
};

}  // namespace vantrel::testing
