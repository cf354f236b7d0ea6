#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// How an ended child's status reads in messages: "exit code: " and the code in
// decimal, or as 0x + eight lower-case hex digits when its highest bit is set (an
// NTSTATUS such as an unhandled exception).
std::string exit_status_text(std::uint32_t code);

}  // namespace vantrel
