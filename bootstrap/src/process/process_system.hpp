#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "lib/result.hpp"
#include "process/child_process.hpp"
#include "windows/temp_files.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

// Every system step of the probe and the launch, so that tests can make any single
// one fail or run a clock of their own.
class ProcessSystem {
  public:
    using Clock = std::chrono::steady_clock;

    virtual ~ProcessSystem() = default;

    // A temporary file in the user's temporary folder.
    virtual IoResult<TempFile> create_capture_file() = 0;
    // A second, independent handle onto an open file (read and write, full sharing).
    virtual IoResult<UniqueHandle> reopen(HANDLE file) = 0;
    virtual IoResult<UniqueHandle> open_null_device() = 0;
    virtual IoResult<ChildProcess> start(const ChildCommand& command) = 0;
    virtual IoResult<std::optional<std::uint32_t>> exit_code_if_ended(
        const ChildProcess& child) = 0;
    virtual IoResult<bool> job_still_running(const ChildProcess& child) = 0;
    virtual void terminate_and_wait(const ChildProcess& child) = 0;
    virtual IoResult<std::uint64_t> file_size(const std::wstring& path) = 0;
    // A fresh handle for reading a file from its start.
    virtual IoResult<UniqueHandle> open_for_reading(const std::wstring& path) = 0;
    virtual Clock::time_point now() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// The real thing.
ProcessSystem& windows_process_system();

}  // namespace vantrel
