#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "lib/byte_source.hpp"
#include "lib/bytes.hpp"
#include "lib/release_limits.hpp"
#include "lib/result.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

inline constexpr std::string_view no_recovery_parent_message = "Recovery destination has no parent";

// An existing file opened for reading with full sharing.
IoResult<UniqueHandle> open_for_reading(const std::wstring& path);

// Reads a whole open file (at most limit + 1 bytes to find out) and closes it.
// Longer than limit: "File exceeds setup's size limit".
IoResult<Bytes> read_limited(UniqueHandle file, std::size_t limit);

// The same limit rule over any source, which stays open.
IoResult<Bytes> read_limited(ByteSource& source, std::size_t limit);

// Copies the rest of one open file into another, block by block.
IoStatus copy_file_contents(HANDLE from, HANDLE to, std::size_t block_size);

// The folder and any missing parents; an existing folder is fine.
IoStatus create_folder_tree(const std::wstring& folder);

// Whether anything is at path; a failure other than "not found" is an error.
IoResult<bool> path_exists(const std::wstring& path);
// Whether a folder is at path (a file there is not one); errors as path_exists.
IoResult<bool> folder_exists(const std::wstring& path);

// CopyFileExW to a file that must not exist yet.
IoStatus copy_to_new_file(const std::wstring& from, const std::wstring& to);

// MoveFileExW with MOVEFILE_REPLACE_EXISTING only: a flushed file is renamed, and
// waiting for the rename to reach the disk buys nothing.
IoStatus rename_replacing(const std::wstring& from, const std::wstring& to);

// MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
IoStatus move_replacing(const std::wstring& from, const std::wstring& to);

// Puts dest back into its state before a change: a copy of backup when one exists,
// otherwise no file at all.
IoStatus restore_from_backup(const std::wstring& dest, const std::wstring& backup,
                             bool backup_exists);

// A file, not a folder; a path whose attributes cannot be read counts as missing.
bool is_existing_file(const std::wstring& path);

// Deletes a file the setup made itself, clearing a read-only attribute first (a
// backup copy may carry one).
IoStatus delete_own_file(const std::wstring& path);

// One entry of a folder, as a directory search gives it.
struct FolderEntry {
    std::wstring name;
    DWORD attributes;
};

// The entries of a folder but "." and "..".
IoResult<std::vector<FolderEntry>> list_folder(const std::wstring& folder);

// Removes a folder and everything in it. Links and junctions inside are removed
// themselves; what they point to is never entered.
IoStatus remove_folder_tree(const std::wstring& folder);

}  // namespace vantrel
