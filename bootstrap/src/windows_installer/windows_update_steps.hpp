#pragma once

#include <optional>
#include <string>

#include "lib/update_steps.hpp"
#include "windows/setup_locks.hpp"
#include "windows/shortcuts.hpp"
#include "windows/temp_files.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

// The launcher update's steps on the real system: the HTTPS download host, the
// launcher folder of the install layout, the launcher lock and the launcher's
// processes. Holds what one run creates (lock, run folder, staged file) and lets go
// of all of it when destroyed.
class WindowsUpdateSteps final : public UpdateSteps {
  public:
    // The user's own product folder, Desktop and Start menu.
    WindowsUpdateSteps() = default;
    // Another product folder and shortcut folders (tests).
    explicit WindowsUpdateSteps(ShortcutFolders folders) : folders_(std::move(folders)) {}

    Status find_launcher_folder() override;
    std::string_view release_key() override;
    Result<Bytes> download(std::string_view path, std::uint64_t limit,
                           const DownloadProgressHook& progress) override;
    Status create_launcher_folder() override;
    Status take_launcher_lock() override;
    void release_launcher_lock() override;

    IoResult<ReleaseFiles> read_cache() override;
    IoStatus write_cache(const ReleaseFiles& files) override;
    IoResult<Bytes> read_installed_launcher(std::size_t limit) override;

    IoStatus check_regular_file(LauncherCopy copy) override;
    Status probe_launcher_version(LauncherCopy copy, std::string_view version) override;
    Status start_launcher() override;

    IoStatus create_run_folder() override;
    std::string run_folder_path() override;
    void keep_run_folder() override;
    void remove_run_folder() override;
    void remove_stale_run_folders() override;
    IoStatus write_staged_launcher(ByteView launcher) override;
    IoStatus flush_staged_launcher() override;
    IoResult<bool> installed_launcher_exists() override;
    IoStatus back_up_installed_launcher() override;
    IoStatus move_staged_launcher_into_place() override;
    IoStatus restore_backup() override;
    IoStatus delete_installed_launcher() override;

    Status refresh_shortcuts() override;

  private:
    const std::wstring& path_of(LauncherCopy copy) const;

    std::optional<ShortcutFolders> folders_;
    std::wstring launcher_folder_;
    std::wstring launcher_path_;
    std::wstring cache_path_;
    std::optional<SetupLock> lock_;
    std::optional<TempFolder> run_folder_;
    std::wstring staged_path_;
    std::wstring backup_path_;
    UniqueHandle staged_file_;
};

}  // namespace vantrel
