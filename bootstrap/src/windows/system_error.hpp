#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "lib/error.hpp"

namespace vantrel {

// The display text of an operating-system error code, from the system's message
// table (see compose_system_error_text).
std::string system_error_text(std::uint32_t code);

// The same, looking in a module's message table first (then the system's).
std::string system_error_text(std::uint32_t code, HMODULE message_module);

IoError os_error(std::uint32_t code);

// The calling thread's last Windows error.
IoError last_os_error();

}  // namespace vantrel
