#pragma once

#include <string_view>

namespace vantrel {

// The options that select a role; the Apps entry's commands name two of them.
inline constexpr std::string_view repair_option = "--repair";
inline constexpr std::string_view version_option = "--version";
inline constexpr std::string_view console_option = "--console";
inline constexpr std::string_view uninstall_option = "--uninstall";
inline constexpr std::string_view uninstall_worker_option = "--uninstall-worker";

}  // namespace vantrel
