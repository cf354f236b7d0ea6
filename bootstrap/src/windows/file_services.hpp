#pragma once

#include <cstddef>
#include <string>

#include "lib/bytes.hpp"
#include "lib/result.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

// Reads a whole open file (at most limit + 1 bytes to find out) and closes it.
// Longer than limit: "File exceeds setup's size limit".
IoResult<Bytes> read_limited(UniqueHandle file, std::size_t limit);

// MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
IoStatus move_replacing(const std::wstring& from, const std::wstring& to);

// Puts dest back into its state before a change: a copy of backup when one exists,
// otherwise no file at all.
IoStatus restore_from_backup(const std::wstring& dest, const std::wstring& backup,
                             bool backup_exists);

}  // namespace vantrel
