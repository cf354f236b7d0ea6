#pragma once

#include <optional>

#include "lib/error.hpp"
#include "windows_installer/message_boxes.hpp"
#include "windows_installer/uninstall_system.hpp"

namespace vantrel {

inline constexpr std::string_view uninstall_confirmation_text =
    "Uninstall Orvanis Launcher? Installed games, settings, and your saved account will be "
    "kept. Close the Launcher before continuing.";
// MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2: No is the default.
inline constexpr UINT uninstall_confirmation_flags = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
inline constexpr std::string_view uninstall_start_failure_text =
    "Uninstall could not start. Close the Launcher and setup, then try again.";
inline constexpr UINT uninstall_start_failure_flags = MB_ICONERROR;

inline constexpr std::string_view not_installed_copy_message =
    "Run uninstall from the installed launcher.";

// How an uninstall role ended: its exit code, and for a failure the stage error that
// caused it (never shown to the user; tests read it).
struct UninstallOutcome {
    int exit_code = 0;
    std::optional<Error> failure;
};

// Every failure of the uninstall roles has stage Installation.
Error uninstall_error(std::string_view detail);
Error uninstall_error(const IoError& failure);

// The end of a failed uninstall role: the failure box, then exit code 1 and the error.
UninstallOutcome uninstall_failure(MessageBoxes& boxes, std::string_view text, UINT flags,
                                   Error error);

// Confirms, checks that the installed bootstrap runs and that the Apps
// entry is this installation's, copies the program to a new "orvane-uninstall-"
// folder in the temporary folder and starts the copy as the worker.
UninstallOutcome request_uninstall(MessageBoxes& boxes, const UninstallSystem& system);

// "--uninstall": request_uninstall with real message boxes and the real system.
int run_uninstall_request();

}  // namespace vantrel
