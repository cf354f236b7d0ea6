#pragma once

#include <chrono>
#include <string_view>

#include "windows_installer/message_boxes.hpp"
#include "windows_installer/uninstall_request.hpp"
#include "windows_installer/uninstall_system.hpp"

namespace vantrel {

inline constexpr std::string_view uninstall_success_text =
    "Orvanis Launcher was uninstalled. Your games, settings, and saved account were kept.";
inline constexpr UINT uninstall_success_flags = MB_ICONINFORMATION;
inline constexpr std::string_view uninstall_finish_failure_text =
    "Uninstall could not finish. Close the Launcher and setup, then try again. Your games and "
    "account data were kept.";
inline constexpr UINT uninstall_finish_failure_flags = MB_ICONERROR;

inline constexpr std::string_view invalid_worker_folder_message =
    "Invalid uninstall worker folder.";
inline constexpr std::string_view invalid_worker_location_message =
    "Invalid uninstall worker location.";
inline constexpr std::string_view invalid_worker_message = "Invalid uninstall worker.";
inline constexpr std::string_view bootstrap_changed_message = "Installed bootstrap changed.";
inline constexpr std::string_view bootstrap_in_use_message =
    "Close the launcher and setup before uninstalling.";

// The wait for the installed bootstrap to be free: 20 seconds from its start, 100 ms
// between attempts.
inline constexpr std::chrono::milliseconds bootstrap_wait_deadline{20000};
inline constexpr std::chrono::milliseconds bootstrap_wait_pause{100};

// The shortcut names the worker removes when they are the product's own, in the
// order it looks at them in each folder (Desktop, then Start menu).
inline constexpr std::wstring_view uninstall_shortcut_names[] = {
    L"Orvanis Launcher.lnk", L"Orvane Launcher.lnk", L"Vantrel.lnk"};

// Proves that it is the request's copy of the installed bootstrap, takes
// both setup locks, waits until the bootstrap is free and removes the product's own
// shortcuts, the launcher and its cache, the Apps entry and the bootstrap; then one
// box with the outcome.
UninstallOutcome perform_uninstall(MessageBoxes& boxes, const UninstallSystem& system);

// "--uninstall-worker": perform_uninstall with real message boxes and the real system.
int run_uninstall_worker();

}  // namespace vantrel
