#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

enum class Role {
    Wizard,
    Console,
    UninstallRequest,
    UninstallWorker,
    Version,
    Usage,
};

inline constexpr int usage_exit_code = 2;
inline constexpr int version_key_failure_exit_code = 1;
inline constexpr std::string_view usage_line =
    "Open this program without arguments to install or update the launcher.\n";

// The role the arguments after the program name select. An option counts only as
// the sole argument and only when it matches exactly.
Role select_role(std::span<const std::u16string> arguments);

// The version line, or nothing when the key text does not decode.
std::optional<std::string> version_output(std::string_view release_key_text);

// The roles that are functions of their own; the entry passes their exit code on.
struct RoleTable {
    int (*wizard)();
    int (*console)();
    int (*uninstall_request)();
    int (*uninstall_worker)();
};

// Runs the role the arguments select and gives the process exit code.
int run_selected_role(std::span<const std::u16string> arguments, const RoleTable& roles);

}  // namespace vantrel
