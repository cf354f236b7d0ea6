#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Exit code of a process ended by an internal fault.
inline constexpr int internal_fault_exit_code = 101;

// An unrecoverable programming error: writes the diagnostic line to standard
// error and ends the process with internal_fault_exit_code. Never returns.
[[noreturn]] void internal_fault(std::string_view what);

// The diagnostic line internal_fault writes, line feed included.
std::string internal_fault_line(std::string_view what);

}  // namespace vantrel
