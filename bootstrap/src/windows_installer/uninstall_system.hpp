#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "lib/result.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

// What the two uninstall roles ask of the system beyond the product folder, its
// files and the Apps entry, which they always use for real. The real system is
// real_uninstall_system(); tests replace single members to run the roles from
// another file, against scratch Desktop, Start-menu and temporary folders, on a fast
// clock, or with a removal that fails.
struct UninstallSystem {
    using Clock = std::chrono::steady_clock;

    // The running executable's full path (GetModuleFileNameW).
    std::function<IoResult<std::wstring>()> running_executable;
    // The user's temporary folder (GetTempPath2W, or GetTempPathW without it).
    std::function<IoResult<std::wstring>()> temporary_folder;
    // The Desktop and the Start-menu Programs folder (known folders).
    std::function<Result<std::wstring>()> desktop_folder;
    std::function<Result<std::wstring>()> programs_folder;
    // Starts the worker file with "--uninstall-worker" and does not wait for it.
    std::function<IoStatus(const std::wstring& worker)> start_worker;
    // The monotonic clock and the pause between two attempts of the worker's wait.
    std::function<Clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> pause;
    // The worker's removals: one file (remove_if_present), the Apps entry
    // (remove_apps_entry for the product folder).
    std::function<Status(const std::wstring& path)> remove_file;
    std::function<Status(const std::wstring& product_folder)> remove_entry;
    // Called with a step's number (of the request or the worker) just before the step
    // runs; nothing in real use. Lets a test change the disk in between two steps. The
    // request's steps 6 and 7 run as one, after the call for 6.
    std::function<void(int step)> before_step;
};

UninstallSystem real_uninstall_system();

// The uninstall worker's process: the worker file with the single argument
// "--uninstall-worker", CREATE_NO_WINDOW, the current folder and environment
// inherited, no handles inherited and no standard handles given. Both handles of the
// started process are closed at once.
IoStatus start_uninstall_worker(const std::wstring& worker);

// An existing file opened for reading and writing with FILE_SHARE_DELETE alone, after
// ensure_no_links: nothing else can open or start it while the handle is open, and
// this process may still delete it. Nothing when the file or its folder does not
// exist; any other failure is an Installation error with the system's text (a file
// that another process has open or runs from gives a sharing violation).
Result<std::optional<UniqueHandle>> open_exclusive(const std::wstring& path);

// ensure_no_links, then deletes the file; a file that is not there counts as
// removed. Other failures: Installation, with the system's text.
Status remove_if_present(const std::wstring& path);

}  // namespace vantrel
