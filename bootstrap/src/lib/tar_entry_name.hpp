#pragma once

#include <cstdint>
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

// Far above any record the reader keeps at hand; a larger size is refused.
inline constexpr std::uint64_t tar_largest_record = std::uint64_t{1} << 40;

// The size field of a header block: octal digits after any blanks, or a big-endian
// number when its first byte has the top bit set. Nothing above the largest record.
std::optional<std::uint64_t> tar_record_size(ByteView header);

}  // namespace vantrel
