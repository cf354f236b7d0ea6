#pragma once

#include "lib/bootstrap_steps.hpp"
#include "scripted_failures.hpp"
#include "windows_installer/windows_bootstrap_steps.hpp"

namespace vantrel::testing {

inline constexpr std::string_view shortcut_restore_failure = "injected shortcut restore failure";

// The real bootstrap steps on a real disk, but any named steps fail as the real ones
// would. "lock again" is the second taking of the lock, after a failed start of the
// installed copy; "claim taken" makes the lock name another run's folder.
class ScriptedBootstrapSteps final : public BootstrapSteps, public ScriptedFailures {
    // Every step not named otherwise fails with this stage.
    template <class Call>
    auto on(std::string_view step, Call&& call) {
        return unless_failing(step, Stage::Bootstrap, std::forward<Call>(call));
    }

  public:
    explicit ScriptedBootstrapSteps(WindowsBootstrapSteps& real) : real_(real) {}

    IoStatus find_program() override {
        return on("program path", [&] { return real_.find_program(); });
    }
    Status find_paths() override {
        return unless_failing("find folders", Stage::Installation,
                              [&] { return real_.find_paths(); });
    }
    Status check_paths() override { return real_.check_paths(); }
    IoStatus create_folders() override { return real_.create_folders(); }
    Status take_lock() override {
        return on(++locks_taken_ == 1 ? "lock" : "lock again", [&] { return real_.take_lock(); });
    }
    void release_lock() override { real_.release_lock(); }
    bool running_installed_copy() override { return real_.running_installed_copy(); }
    IoStatus create_recovery_folder() override {
        return on("recovery folder", [&] { return real_.create_recovery_folder(); });
    }
    std::string recovery_folder_path() override { return real_.recovery_folder_path(); }
    void keep_recovery_folder() override { real_.keep_recovery_folder(); }
    void remove_recovery_folder() override { real_.remove_recovery_folder(); }
    void remove_stale_recovery_files() override { real_.remove_stale_recovery_files(); }
    IoStatus record_claim() override {
        return on("claim", [&] { return real_.record_claim(); });
    }
    IoResult<bool> claim_is_ours() override {
        if (failing("claim taken"))
            return false;
        return on("claim read", [&] { return real_.claim_is_ours(); });
    }
    void delete_temp_shortcut() override { real_.delete_temp_shortcut(); }
    IoResult<bool> bootstrap_exists() override { return real_.bootstrap_exists(); }
    IoResult<bool> shortcut_exists() override { return real_.shortcut_exists(); }
    bool installed_has_same_content() override { return real_.installed_has_same_content(); }
    IoStatus stage_copy() override {
        return on("copy", [&] { return real_.stage_copy(); });
    }
    IoStatus back_up_bootstrap() override {
        return on("back up bootstrap", [&] { return real_.back_up_bootstrap(); });
    }
    Result<bool> write_temp_shortcut(bool force) override {
        return on("shortcut write", [&] { return real_.write_temp_shortcut(force); });
    }
    IoStatus back_up_shortcut() override {
        return on("back up shortcut", [&] { return real_.back_up_shortcut(); });
    }
    IoStatus move_staged_copy_into_place() override {
        return on("move bootstrap", [&] { return real_.move_staged_copy_into_place(); });
    }
    IoStatus move_temp_shortcut_into_place() override {
        return on("move shortcut", [&] { return real_.move_temp_shortcut_into_place(); });
    }
    IoResult<bool> staged_copy_exists() override {
        return on("staged query", [&] { return real_.staged_copy_exists(); });
    }
    IoStatus restore_bootstrap(bool existed) override {
        return on("restore bootstrap", [&] { return real_.restore_bootstrap(existed); });
    }
    // Fails with a text of its own, to tell which of two failed restores is reported.
    IoStatus restore_shortcut(bool existed) override {
        if (failing("restore shortcut"))
            return IoError::raised(std::string(shortcut_restore_failure));
        return real_.restore_shortcut(existed);
    }
    Status start_installed_bootstrap(bool console) override {
        return on("start", [&] { return real_.start_installed_bootstrap(console); });
    }
    Status update_setup_shortcut() override {
        return on("setup shortcut", [&] { return real_.update_setup_shortcut(); });
    }
    Status register_apps_entry() override {
        return on("register", [&] { return real_.register_apps_entry(); });
    }

  private:
    WindowsBootstrapSteps& real_;
    int locks_taken_ = 0;
};

}  // namespace vantrel::testing
