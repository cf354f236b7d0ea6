#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/result.hpp"
#include "windows/random_names.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

// Names tried before giving up with "too many temporary files exist at path ...".
inline constexpr std::uint32_t temp_name_attempts = 65536;
// Collisions after which the name source is reseeded from the system.
inline constexpr std::uint32_t temp_name_attempts_before_reseed = 3;

// How long a temporary folder's removal keeps trying: 50 times 20 ms.
inline constexpr std::uint32_t temp_folder_removal_attempts = 50;
inline constexpr std::uint32_t temp_folder_removal_pause_ms = 20;

// A temporary file of the layout (".tmp" + 6 random characters), open for reading
// and writing; deleted when let go of unless it has been moved away.
class TempFile {
  public:
    TempFile(std::wstring path, UniqueHandle handle);
    ~TempFile();
    TempFile(TempFile&& other) noexcept;
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::wstring& path() const { return path_; }
    HANDLE handle() const { return handle_.get(); }

    // Closes the handle early (a file must be closed before some moves); the file
    // is still deleted when let go of.
    void close() { handle_.reset(); }
    // The file now lives under another name: nothing is left to delete.
    void mark_moved() { moved_ = true; }

  private:
    void remove();

    std::wstring path_;
    UniqueHandle handle_;
    bool moved_ = false;
};

// A temporary folder (prefix + 6 random characters); removed with its content when
// let go of, unless kept.
class TempFolder {
  public:
    explicit TempFolder(std::wstring path);
    ~TempFolder();
    TempFolder(TempFolder&& other) noexcept;
    TempFolder& operator=(TempFolder&& other) noexcept;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path (no trailing separator).
    const std::wstring& path() const { return path_; }
    // Leave the folder on disk (its path is named in a recovery message).
    void keep() { kept_ = true; }

  private:
    void remove();

    std::wstring path_;
    bool kept_ = false;
};

// Created new in dir, with full sharing and the temporary attribute.
IoResult<TempFile> create_temp_file(const std::wstring& dir);
// The same naming and retry rule with any prefix, suffix and file attributes.
IoResult<TempFile> create_named_temp_file(const std::wstring& dir, std::wstring_view prefix,
                                          std::wstring_view suffix, DWORD attributes,
                                          NameSource& names);
IoResult<TempFile> create_temp_file(const std::wstring& dir, NameSource& names);

IoResult<TempFolder> create_temp_folder(const std::wstring& dir, std::wstring_view prefix);
IoResult<TempFolder> create_temp_folder(const std::wstring& dir, std::wstring_view prefix,
                                        NameSource& names);

// Whether name is one that create_temp_folder or create_named_temp_file (without a
// suffix) could have given with this prefix.
bool is_temp_name(std::wstring_view name, std::wstring_view prefix);

// Removes every folder in dir with a temporary name of this prefix but keep, with its
// content; links are left alone. What cannot be removed (a file still in use) stays;
// best effort.
void remove_temp_folders(const std::wstring& dir, std::wstring_view prefix,
                         const std::wstring& keep);

// Clears the temporary attribute and moves the file over dest (replacing, without
// write-through). On failure the file is deleted as usual and the error returned.
IoStatus persist_temp_file(TempFile&& file, const std::wstring& dest);

}  // namespace vantrel
