#pragma once

#include <string>

#include "lib/bytes.hpp"

namespace vantrel::release_tool {

// Standard base64 with "=" padding, the form the key and signature files use.
std::string encode_base64(ByteView bytes);

}  // namespace vantrel::release_tool
