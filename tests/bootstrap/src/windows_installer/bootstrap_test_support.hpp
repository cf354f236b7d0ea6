#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lib/bootstrap_steps.hpp"
#include "windows_installer/windows_bootstrap_steps.hpp"

namespace vantrel::testing {

// The real bootstrap steps on a real disk, but any named steps fail as the real ones
// would (with their stage). "claim taken" makes the lock name another run's folder.
class ScriptedBootstrapSteps final : public BootstrapSteps {
  public:
    explicit ScriptedBootstrapSteps(WindowsBootstrapSteps& real) : real_(real) {}

    void fail(std::vector<std::string> steps) { failing_ = std::move(steps); }

    Status find_paths() override { return real_.find_paths(); }
    Status check_paths() override { return real_.check_paths(); }
    IoStatus create_folders() override { return real_.create_folders(); }
    Status take_lock() override;
    void release_lock() override { real_.release_lock(); }
    bool running_installed_copy() override { return real_.running_installed_copy(); }
    IoStatus create_recovery_folder() override;
    std::string recovery_folder_path() override { return real_.recovery_folder_path(); }
    void keep_recovery_folder() override { real_.keep_recovery_folder(); }
    void remove_recovery_folder() override { real_.remove_recovery_folder(); }
    IoStatus record_claim() override;
    IoResult<bool> claim_is_ours() override;
    void delete_temp_shortcut() override { real_.delete_temp_shortcut(); }
    IoResult<bool> bootstrap_exists() override { return real_.bootstrap_exists(); }
    IoResult<bool> shortcut_exists() override { return real_.shortcut_exists(); }
    bool installed_has_same_content() override { return real_.installed_has_same_content(); }
    IoStatus stage_copy() override;
    IoStatus back_up_bootstrap() override;
    Result<bool> write_temp_shortcut(bool force) override;
    IoStatus back_up_shortcut() override;
    IoStatus move_staged_copy_into_place() override;
    IoStatus move_temp_shortcut_into_place() override;
    IoResult<bool> staged_copy_exists() override { return real_.staged_copy_exists(); }
    IoStatus restore_bootstrap(bool existed) override;
    IoStatus restore_shortcut(bool existed) override;
    Status start_installed_bootstrap(bool console) override;
    Status update_setup_shortcut() override;
    Status register_apps_entry() override;

  private:
    bool failing(std::string_view step) const;

    WindowsBootstrapSteps& real_;
    std::vector<std::string> failing_;
    int locks_taken_ = 0;
};

}  // namespace vantrel::testing
