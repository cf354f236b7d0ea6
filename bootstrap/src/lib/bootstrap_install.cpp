#include "lib/bootstrap_install.hpp"

#include <optional>
#include <string>
#include <utility>

namespace vantrel {
namespace {

Status bootstrap_step(IoStatus status) {
    return with_stage(Stage::Bootstrap, std::move(status));
}

// One run of the transaction over the installed bootstrap B and the desktop shortcut
// DS: everything is prepared in the recovery folder R and the temporary shortcut TS,
// then moved into place, and put back from R when the change cannot be completed.
class BootstrapRun {
  public:
    BootstrapRun(const BootstrapOptions& options, BootstrapSteps& steps)
        : options_(options), steps_(steps) {}

    Result<bool> run() {
        if (auto found = bootstrap_step(steps_.find_program()); !found)
            return std::move(found).error();
        if (auto found = steps_.find_paths(); !found)
            return std::move(found).error();
        if (auto safe = steps_.check_paths(); !safe)
            return std::move(safe).error();
        if (auto created = bootstrap_step(steps_.create_folders()); !created)
            return std::move(created).error();
        if (auto locked = steps_.take_lock(); !locked)
            return std::move(locked).error();
        installed_ = steps_.running_installed_copy();
        if (auto created = bootstrap_step(steps_.create_recovery_folder()); !created) {
            steps_.release_lock();
            return std::move(created).error();
        }
        if (Status committed = prepare_and_commit(); !committed) {
            // Only R, TS and the lock file were written; R stays only when a rollback
            // failed and it holds the backups.
            steps_.remove_recovery_folder();
            steps_.release_lock();
            return std::move(committed).error();
        }
        return finish();
    }

  private:
    Status prepare_and_commit() {
        if (auto claimed = bootstrap_step(steps_.record_claim()); !claimed)
            return claimed;
        steps_.delete_temp_shortcut();
        IoResult<bool> bootstrap_existed = steps_.bootstrap_exists();
        if (!bootstrap_existed)
            return Error::from_io(Stage::Bootstrap, bootstrap_existed.error());
        IoResult<bool> shortcut_existed = steps_.shortcut_exists();
        if (!shortcut_existed)
            return Error::from_io(Stage::Bootstrap, shortcut_existed.error());
        bootstrap_existed_ = *bootstrap_existed;
        shortcut_existed_ = *shortcut_existed;
        replace_ = !installed_ && (!bootstrap_existed_ || !steps_.installed_has_same_content());

        if (replace_) {
            if (auto staged = bootstrap_step(steps_.stage_copy()); !staged)
                return staged;
            if (bootstrap_existed_) {
                if (auto saved = bootstrap_step(steps_.back_up_bootstrap()); !saved)
                    return saved;
            }
        }
        Result<bool> written = steps_.write_temp_shortcut(replace_);
        if (!written) {
            steps_.delete_temp_shortcut();
            return std::move(written).error();
        }
        shortcut_written_ = *written;
        if (shortcut_written_ && shortcut_existed_) {
            if (auto saved = bootstrap_step(steps_.back_up_shortcut()); !saved) {
                steps_.delete_temp_shortcut();
                return saved;
            }
        }
        if (Status committed = commit(); !committed)
            return roll_back_commit(std::move(committed).error());
        return {};
    }

    Status commit() {
        if (replace_) {
            if (auto moved = steps_.move_staged_copy_into_place(); !moved) {
                return Error::from_composed(Stage::Bootstrap,
                                            std::string(close_setup_prefix) + moved.error().text());
            }
        }
        if (shortcut_written_)
            return bootstrap_step(steps_.move_temp_shortcut_into_place());
        return {};
    }

    Status roll_back_commit(Error failure) {
        steps_.delete_temp_shortcut();
        if (!replace_)
            return failure;
        // The staged copy still there means B was never replaced. Without an answer
        // nothing is restored, and the backups stay for the user.
        IoResult<bool> staged = steps_.staged_copy_exists();
        if (!staged) {
            return keep_recovery_files(failure, bootstrap_rollback_failed_infix,
                                       staged.error().text());
        }
        if (*staged)
            return failure;
        if (auto restored = steps_.restore_bootstrap(bootstrap_existed_); !restored) {
            return keep_recovery_files(failure, bootstrap_rollback_failed_infix,
                                       restored.error().text());
        }
        return failure;
    }

    Result<bool> finish() {
        if (installed_ || !options_.restart) {
            // The bootstrap is this program and nothing will be undone. With the lock and
            // our claim held, no other run can still need its recovery files: one that let
            // go of the lock to start the installed copy finds our claim when it takes the
            // lock back, and rolls nothing back.
            steps_.remove_stale_recovery_files();
            steps_.remove_recovery_folder();
            steps_.release_lock();
            return register_installation();
        }
        // The installed copy takes the lock itself, and clears up after earlier runs.
        steps_.release_lock();
        if (Status started = steps_.start_installed_bootstrap(options_.console); !started)
            return recover_from_failed_start(std::move(started).error());
        steps_.remove_recovery_folder();
        return true;
    }

    Result<bool> register_installation() {
        if (auto updated = steps_.update_setup_shortcut(); !updated)
            return std::move(updated).error();
        if (auto registered = steps_.register_apps_entry(); !registered)
            return std::move(registered).error();
        return false;
    }

    // The lock was free while the installed copy started: another setup may have run
    // its own install since, and its result is then left alone.
    Error recover_from_failed_start(Error failure) {
        if (auto locked = steps_.take_lock(); !locked) {
            return keep_recovery_files(failure, lock_recovery_failed_infix,
                                       locked.error().display());
        }
        IoResult<bool> ours = steps_.claim_is_ours();
        if (!ours || !*ours) {
            steps_.release_lock();
            steps_.remove_recovery_folder();
            if (!ours)
                return Error::from_io(Stage::Bootstrap, ours.error());
            return Error::from_composed(Stage::Bootstrap,
                                        failure.display() + std::string(newer_setup_suffix));
        }
        std::optional<IoError> first_failure;
        if (replace_) {
            if (auto restored = steps_.restore_bootstrap(bootstrap_existed_); !restored)
                first_failure = restored.error();
        }
        if (shortcut_written_) {
            if (auto restored = steps_.restore_shortcut(shortcut_existed_);
                !restored && !first_failure) {
                first_failure = restored.error();
            }
        }
        steps_.release_lock();
        if (first_failure) {
            return keep_recovery_files(failure, repair_rollback_failed_infix,
                                       first_failure->text());
        }
        steps_.remove_recovery_folder();
        return failure;
    }

    // The one way R stays on disk: its path is in the message, with the backups in it.
    Error keep_recovery_files(const Error& failure, std::string_view infix,
                              const std::string& cause) {
        steps_.keep_recovery_folder();
        return Error::from_composed(Stage::Bootstrap, failure.display() + std::string(infix) +
                                                          cause +
                                                          std::string(recovery_files_infix) +
                                                          steps_.recovery_folder_path());
    }

    const BootstrapOptions& options_;
    BootstrapSteps& steps_;
    bool installed_ = false;
    bool bootstrap_existed_ = false;
    bool shortcut_existed_ = false;
    bool replace_ = false;
    bool shortcut_written_ = false;
};

}  // namespace

Result<bool> install_or_repair_bootstrap(const BootstrapOptions& options, BootstrapSteps& steps) {
    return BootstrapRun(options, steps).run();
}

}  // namespace vantrel
