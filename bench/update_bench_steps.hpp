#pragma once

#include "bench/bench_release.hpp"
#include "lib/build_settings.hpp"
#include "lib/update_steps.hpp"

namespace vantrel::bench {

// The system side of an update whose launcher is current, with the manifest, the
// cache file and the installed launcher in memory: what the update then does is
// exactly what it does on a user's machine, less the disk and the probe's process.
// Any step that only a download or a replacement takes fails the run.
class UpToDateSteps final : public UpdateSteps {
  public:
    explicit UpToDateSteps(const BenchRelease& release);

    Status find_launcher_folder() override { return {}; }
    std::string_view release_key() override { return built_in_release_key(); }
    Result<Bytes> download(std::string_view path, std::uint64_t limit,
                           const DownloadProgressHook& progress) override;
    Status create_launcher_folder() override { return {}; }
    Status take_launcher_lock() override { return {}; }
    void release_launcher_lock() override {}
    IoResult<ReleaseFiles> read_cache() override;
    IoStatus write_cache(const ReleaseFiles&) override { return unexpected(); }
    IoResult<Bytes> read_installed_launcher(std::size_t limit) override;
    IoStatus check_regular_file(LauncherCopy) override { return {}; }
    Status probe_launcher_version(LauncherCopy, std::string_view) override { return {}; }
    Status start_launcher() override { return {}; }
    IoStatus create_run_folder() override { return unexpected(); }
    std::string run_folder_path() override { return {}; }
    void keep_run_folder() override {}
    void remove_run_folder() override {}
    void remove_stale_run_folders() override {}
    IoStatus write_staged_launcher(ByteView) override { return unexpected(); }
    IoStatus flush_staged_launcher() override { return unexpected(); }
    IoResult<bool> installed_launcher_exists() override { return unexpected(); }
    IoStatus back_up_installed_launcher() override { return unexpected(); }
    IoStatus move_staged_launcher_into_place() override { return unexpected(); }
    IoStatus restore_backup() override { return unexpected(); }
    IoStatus delete_installed_launcher() override { return unexpected(); }
    Status refresh_shortcuts() override { return {}; }

  private:
    static IoError unexpected();

    Bytes manifest_;
    Bytes cache_;
    const Bytes& launcher_;
};

}  // namespace vantrel::bench
