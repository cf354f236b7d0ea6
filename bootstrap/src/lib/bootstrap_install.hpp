#pragma once

#include <string_view>

#include "lib/bootstrap_steps.hpp"
#include "lib/result.hpp"

namespace vantrel {

struct BootstrapOptions {
    // Start the installed bootstrap in this process's place when this is another copy.
    bool restart = false;
    // Give that copy "--console".
    bool console = false;
};

inline constexpr std::string_view close_setup_prefix = "Close Vantrel and retry. ";
inline constexpr std::string_view bootstrap_rollback_failed_infix = " Bootstrap rollback failed: ";
inline constexpr std::string_view lock_recovery_failed_infix =
    " Recovery could not acquire the installation lock: ";
inline constexpr std::string_view newer_setup_suffix =
    " A newer setup has run; its installation was preserved.";
inline constexpr std::string_view repair_rollback_failed_infix = " Repair rollback failed: ";
inline constexpr std::string_view recovery_files_infix = ". Recovery files are in ";

// Makes the installed bootstrap a copy of this program, with its desktop shortcut
// and Apps entry, or puts both files back as they were. True when the installed copy
// was started in this process's place and the caller must end.
Result<bool> install_or_repair_bootstrap(const BootstrapOptions& options, BootstrapSteps& steps);

}  // namespace vantrel
