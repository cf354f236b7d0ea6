#pragma once

#include <optional>
#include <string>

#include "lib/bytes.hpp"

namespace vantrel {

// The name of a tar entry as raw bytes, from the blocks its reader used for it: any
// records before its header (GNU long name 'L', pax 'x' or 'X', and 'g', 'K', 'A',
// 'E', 'V', each with its data), then the header itself, last. In this order of
// preference: the GNU long name less one trailing NUL, the last pax "path" value,
// the header's own name (ustar: prefix, "/", name). Record values keep any NUL they
// hold, so a name cannot be cut short. Nothing when the blocks are not such a chain.
std::optional<std::string> tar_entry_name(ByteView blocks);

}  // namespace vantrel
