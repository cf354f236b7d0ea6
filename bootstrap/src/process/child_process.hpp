#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/result.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

// How a child is started. Its standard handles stay owned by the caller; the child
// gets its own copies of these three and of no other handle.
struct ChildCommand {
    std::wstring executable;                   // a full path, never searched for
    std::vector<std::wstring_view> arguments;  // plain words: no spaces or quotes
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE error = nullptr;
    // The executable's own folder, or the setup's current folder.
    bool in_current_folder = false;
    // Whether the child counts as ended only once every process it started has ended
    // as well (they are kept in a job of the child's own).
    bool with_descendants = false;
};

// A started child process. Letting go of it closes the handles and leaves the
// process running.
class ChildProcess {
  public:
    explicit ChildProcess(UniqueHandle process, UniqueHandle job = {})
        : process_(std::move(process)), job_(std::move(job)) {}

    HANDLE handle() const { return process_.get(); }
    // The job that holds the child and its descendants; null without with_descendants.
    HANDLE job() const { return job_.valid() ? job_.get() : nullptr; }

  private:
    UniqueHandle process_;
    UniqueHandle job_;
};

// The null device, open for reading and writing, to stand in for standard handles.
IoResult<UniqueHandle> open_null_device();

// CreateProcessW with CREATE_NO_WINDOW, in the folder of the executable unless the
// command says otherwise.
IoResult<ChildProcess> start_child(const ChildCommand& command);

// The exit code once the child has ended, nothing while it runs (a wait of zero).
IoResult<std::optional<std::uint32_t>> exit_code_if_ended(const ChildProcess& child);

// Whether a process of the child's job still runs (false without a job).
IoResult<bool> job_still_running(const ChildProcess& child);

// Ends the child (and its job) and waits until it has; every step is best effort.
void terminate_and_wait(const ChildProcess& child);

}  // namespace vantrel
