#pragma once

#include <string>

#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Reads a secret key's password as one line: from the terminal without echo when
// standard input is one, else the first line of standard input.
Outcome<std::string> read_password();

}  // namespace vantrel::release_tool
