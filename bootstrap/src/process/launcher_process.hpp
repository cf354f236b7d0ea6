#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "lib/result.hpp"
#include "process/process_system.hpp"

namespace vantrel {

inline constexpr std::wstring_view version_probe_argument = L"--version";
inline constexpr std::chrono::seconds probe_time_limit{15};  // from the start of the child
inline constexpr std::chrono::seconds launch_survival_time{1};
inline constexpr std::chrono::milliseconds child_poll_interval{20};
inline constexpr std::size_t capture_size_limit = 4096;  // each of the probe's outputs

inline constexpr std::string_view probe_start_failure_prefix =
    "The verified launcher could not start: ";
inline constexpr std::string_view probe_stopped_message =
    "Launcher version check timed out or returned too much output.";
inline constexpr std::string_view version_mismatch_message =
    "Launcher version does not match the downloaded release.";
inline constexpr std::string_view launch_failure_prefix = "Could not start the launcher: ";
inline constexpr std::string_view closed_immediately_prefix = "The launcher closed immediately (";
inline constexpr std::string_view closed_immediately_suffix = "). Please contact Vantrel support.";

// Runs executable (a full path) with "--version" and checks that it answers with
// exactly "vantrel-launcher " + version and exit code 0. Failures: stage Installation.
// A child still running when the probe gives up is ended and waited for; the
// capture files are gone when this returns.
Status probe_launcher_version(const std::wstring& executable, std::string_view version);
Status probe_launcher_version(const std::wstring& executable, std::string_view version,
                              ProcessSystem& system);

// Starts executable without arguments and succeeds once it has kept running for a
// second; it is then left running on its own. Failures: stage Launch.
Status start_launcher(const std::wstring& executable);
Status start_launcher(const std::wstring& executable, ProcessSystem& system);

}  // namespace vantrel
