#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/download_progress_hook.hpp"
#include "lib/release_files.hpp"
#include "lib/result.hpp"

namespace vantrel {

// The two places a launcher executable is checked and run from: the installed one,
// and the new one staged in the run's temporary folder under the same file name.
enum class LauncherCopy : std::uint8_t { Installed, Staged };

// Every step of the launcher update that touches the system, for one run. The update
// itself is only the order of these steps and what it makes of their results; tests
// put their own steps in between to make any one of them fail. Steps that choose
// their stage return a stage error; plain file steps return the system's failure and
// the update gives it its stage.
class UpdateSteps {
  public:
    virtual ~UpdateSteps() = default;

    // Finds the launcher folder that every later step works in.
    virtual Status find_launcher_folder() = 0;
    // The release-signing key's text that the program was built with.
    virtual std::string_view release_key() = 0;
    virtual Result<Bytes> download(std::string_view path, std::uint64_t limit,
                                   const DownloadProgressHook& progress) = 0;
    // Creates the launcher folder and its missing parents; Installation.
    virtual Status create_launcher_folder() = 0;
    // Held until release_launcher_lock (or the steps are let go of).
    virtual Status take_launcher_lock() = 0;
    virtual void release_launcher_lock() = 0;

    virtual IoResult<ReleaseFiles> read_cache() = 0;
    virtual IoStatus write_cache(const ReleaseFiles& files) = 0;
    virtual IoResult<Bytes> read_installed_launcher(std::size_t limit) = 0;

    virtual IoStatus check_regular_file(LauncherCopy copy) = 0;
    virtual Status probe_launcher_version(LauncherCopy copy, std::string_view version) = 0;
    // Starts the installed launcher and sees it survive its first second; Launch.
    virtual Status start_launcher() = 0;

    // The run's temporary folder in the launcher folder, and what lives in it.
    virtual IoStatus create_run_folder() = 0;
    // The run folder's full path, for the message that keeps it.
    virtual std::string run_folder_path() = 0;
    // Keeps the run folder on disk when it is let go of.
    virtual void keep_run_folder() = 0;
    // Removes the run folder with its content unless it is kept; best effort.
    virtual void remove_run_folder() = 0;
    // Removes the run folders of earlier runs, other than this run's; best effort.
    virtual void remove_stale_run_folders() = 0;
    // Creates the staged launcher and writes all of it.
    virtual IoStatus write_staged_launcher(ByteView launcher) = 0;
    // Flushes the staged launcher to disk and closes it.
    virtual IoStatus flush_staged_launcher() = 0;
    virtual IoResult<bool> installed_launcher_exists() = 0;
    // Copies the installed launcher into the run folder as the backup.
    virtual IoStatus back_up_installed_launcher() = 0;
    // Renames the staged launcher over the installed one.
    virtual IoStatus move_staged_launcher_into_place() = 0;
    // Renames the backup over the installed launcher.
    virtual IoStatus restore_backup() = 0;
    // Deletes the installed launcher (when there was none before the run).
    virtual IoStatus delete_installed_launcher() = 0;

    // Points the shortcuts at the launcher, under both setup locks.
    virtual Status refresh_shortcuts() = 0;
};

}  // namespace vantrel
