#pragma once

#include <string>

#include "lib/result.hpp"

namespace vantrel {

// Every step of the bootstrap install or repair that touches the system, for one run.
// The transaction itself is the order of these steps and their undo; tests put their
// own steps in between to make any one of them fail. Steps that choose their stage
// return a stage error; plain file steps return the system's failure, and the
// transaction gives it the stage Bootstrap.
class BootstrapSteps {
  public:
    virtual ~BootstrapSteps() = default;

    // The running program's own path.
    virtual IoStatus find_program() = 0;
    // The product folder, the Desktop and the Start menu.
    virtual Status find_paths() = 0;
    // Refuses links and junctions on every path the run may touch.
    virtual Status check_paths() = 0;
    // The product folder and the Desktop, with missing parents.
    virtual IoStatus create_folders() = 0;
    virtual Status take_lock() = 0;
    virtual void release_lock() = 0;
    // Whether the running program is the installed bootstrap.
    virtual bool running_installed_copy() = 0;

    // The recovery folder in the product folder, and what lives in it.
    virtual IoStatus create_recovery_folder() = 0;
    virtual std::string recovery_folder_path() = 0;
    virtual void keep_recovery_folder() = 0;
    // Removes it with its content unless kept; best effort.
    virtual void remove_recovery_folder() = 0;
    // Removes every other run's recovery folder and temporary desktop shortcut; best
    // effort, and only while the lock is held with this run's claim in it.
    virtual void remove_stale_recovery_files() = 0;
    // Writes the recovery folder's name into the held lock.
    virtual IoStatus record_claim() = 0;
    // Whether the lock, held again, still names this run's recovery folder.
    virtual IoResult<bool> claim_is_ours() = 0;

    // Deletes the run's temporary desktop shortcut if there is one; best effort.
    virtual void delete_temp_shortcut() = 0;
    virtual IoResult<bool> bootstrap_exists() = 0;
    virtual IoResult<bool> shortcut_exists() = 0;
    // Whether the installed bootstrap has this program's content; a failed comparison
    // counts as different.
    virtual bool installed_has_same_content() = 0;
    // Copies this program into the recovery folder and flushes the copy.
    virtual IoStatus stage_copy() = 0;
    virtual IoStatus back_up_bootstrap() = 0;
    // Writes a desktop shortcut to the bootstrap into the temporary shortcut unless,
    // without force, the desktop's already points there: whether it wrote one.
    virtual Result<bool> write_temp_shortcut(bool force) = 0;
    virtual IoStatus back_up_shortcut() = 0;
    virtual IoStatus move_staged_copy_into_place() = 0;
    virtual IoStatus move_temp_shortcut_into_place() = 0;
    virtual IoResult<bool> staged_copy_exists() = 0;
    // Puts the bootstrap or the desktop shortcut back as it was: the backup, or no
    // file when there was none.
    virtual IoStatus restore_bootstrap(bool existed) = 0;
    virtual IoStatus restore_shortcut(bool existed) = 0;

    // Starts the installed bootstrap in this process's place, with "--console" when
    // asked, on this process's standard handles.
    virtual Status start_installed_bootstrap(bool console) = 0;
    virtual Status update_setup_shortcut() = 0;
    virtual Status register_apps_entry() = 0;
};

}  // namespace vantrel
