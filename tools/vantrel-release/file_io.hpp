#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>

#include "lib/bytes.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Reads the first `count` bytes of a file, or all of it when it is shorter. A caller
// that reads one byte more than its limit sees an oversized file as such.
Outcome<Bytes> read_at_most(const std::filesystem::path& path, std::size_t count);

enum class Existing { Replace, Keep };

// Writes the whole file or nothing: the bytes go to a temporary file in the same
// folder, which is flushed and then renamed over the name, and the folder is
// flushed after it. With Existing::Keep an existing file is left alone and the
// write fails.
Done write_file_atomically(const std::filesystem::path& path, ByteView bytes, mode_t mode,
                           Existing existing);

// Creates the folder and its missing parents.
Done create_folders(const std::filesystem::path& folder);

}  // namespace vantrel::release_tool
