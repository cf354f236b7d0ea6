#pragma once

#include <string>

#include "lib/release_files.hpp"
#include "lib/result.hpp"

namespace vantrel {

// The verified-launcher cache on disk. Failures carry no stage: a cache that cannot
// be read only means downloading again, and one that cannot be written only a
// warning.

// Reads the four records; the file is opened with full sharing.
IoResult<ReleaseFiles> read_verified_cache(const std::wstring& path);

// Replaces the cache at path: written under a temporary name in its folder, flushed,
// the old cache deleted, then the new one moved into place.
IoStatus write_verified_cache(const std::wstring& path, const ReleaseFiles& files);

}  // namespace vantrel
