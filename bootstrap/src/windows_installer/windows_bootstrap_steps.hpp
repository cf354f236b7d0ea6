#pragma once

#include <optional>
#include <string>

#include "lib/bootstrap_steps.hpp"
#include "windows/path_safety.hpp"
#include "windows/setup_locks.hpp"
#include "windows/shortcuts.hpp"
#include "windows/temp_files.hpp"

namespace vantrel {

// Where a bootstrap install works: the running program and the three folders.
struct BootstrapPlaces {
    std::wstring program;
    ShortcutFolders folders;
};

// The bootstrap install's steps on the real system. Holds what one run creates (the
// lock, the recovery folder) and lets go of it when destroyed.
class WindowsBootstrapSteps final : public BootstrapSteps {
  public:
    // This program, and the user's own product folder, Desktop and Start menu.
    WindowsBootstrapSteps() = default;
    // Another program and other folders, and another link query (tests).
    explicit WindowsBootstrapSteps(BootstrapPlaces places,
                                   MetadataQuery link_query = query_link_metadata)
        : given_(std::move(places)), link_query_(std::move(link_query)) {}

    IoStatus find_program() override;
    Status find_paths() override;
    Status check_paths() override;
    IoStatus create_folders() override;
    Status take_lock() override;
    void release_lock() override;
    bool running_installed_copy() override;
    IoStatus create_recovery_folder() override;
    std::string recovery_folder_path() override;
    void keep_recovery_folder() override;
    void remove_recovery_folder() override;
    void remove_stale_recovery_files() override;
    IoStatus record_claim() override;
    IoResult<bool> claim_is_ours() override;
    void delete_temp_shortcut() override;
    IoResult<bool> bootstrap_exists() override;
    IoResult<bool> shortcut_exists() override;
    bool installed_has_same_content() override;
    IoStatus stage_copy() override;
    IoStatus back_up_bootstrap() override;
    Result<bool> write_temp_shortcut(bool force) override;
    IoStatus back_up_shortcut() override;
    IoStatus move_staged_copy_into_place() override;
    IoStatus move_temp_shortcut_into_place() override;
    IoResult<bool> staged_copy_exists() override;
    IoStatus restore_bootstrap(bool existed) override;
    IoStatus restore_shortcut(bool existed) override;
    Status start_installed_bootstrap(bool console) override;
    Status update_setup_shortcut() override;
    Status register_apps_entry() override;

  private:
    std::optional<BootstrapPlaces> given_;
    MetadataQuery link_query_ = query_link_metadata;
    BootstrapPlaces places_;
    std::wstring bootstrap_;         // B
    std::wstring desktop_shortcut_;  // DS
    std::wstring temp_shortcut_;     // TS
    std::wstring recovery_name_;
    std::wstring staged_;
    std::wstring previous_bootstrap_;
    std::wstring previous_shortcut_;
    std::optional<SetupLock> lock_;
    std::optional<TempFolder> recovery_folder_;
};

}  // namespace vantrel
