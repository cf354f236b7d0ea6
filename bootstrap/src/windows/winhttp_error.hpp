#pragma once

#include <cstdint>
#include <string>

#include "lib/error.hpp"

namespace vantrel {

// Like system_error_text, but also knows the WinHTTP codes (12000 and up), whose
// messages live in winhttp.dll rather than in the system's table.
std::string winhttp_error_text(std::uint32_t code);

// The calling thread's last error, read first thing, after a failed WinHTTP call.
IoError last_winhttp_error();

}  // namespace vantrel
