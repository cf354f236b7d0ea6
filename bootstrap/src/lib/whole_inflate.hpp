#pragma once

#include <cstddef>
#include <optional>

#include "lib/bytes.hpp"

namespace vantrel {

// The first gzip member of compressed data, decompressed in one call (libdeflate:
// several times zlib's speed) into a buffer of the length its trailer states, when
// that is at most `limit`. Nothing when the member is damaged, longer than stated or
// carries a header checksum (which libdeflate does not check): GzipStream then reads
// it and says what is wrong at the point where a reader meets it.
std::optional<Bytes> inflate_whole(ByteView compressed, std::size_t limit);

}  // namespace vantrel
