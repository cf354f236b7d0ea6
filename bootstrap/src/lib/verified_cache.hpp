#pragma once

#include "lib/byte_sink.hpp"
#include "lib/byte_source.hpp"
#include "lib/release_files.hpp"
#include "lib/result.hpp"

namespace vantrel {

// The verified-launcher cache holds the four files of the last installed release so
// that the next run can check the installed launcher without downloading again. It
// is never trusted by itself: what it holds is verified again before use.
//
// Format (integers little-endian): "VLCACHE1", then for each of package, checksum,
// signature and checksum signature a 32-bit length and that many bytes; nothing after.

// The four records of a cache, read to the end of the source.
IoResult<ReleaseFiles> read_verified_cache(ByteSource& source);

// Writes the cache of these files. A record above its size limit is refused before
// anything is written: reading could never accept it.
IoStatus write_verified_cache_contents(ByteSink& sink, const ReleaseFiles& files);

}  // namespace vantrel
