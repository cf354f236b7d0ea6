#pragma once

#include <string>
#include <string_view>

#include "lib/result.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

// A temporary file of the layout (".tmp" + 6 random characters), open for reading
// and writing; deleted when let go of unless persisted.
class TempFile {
public:
    TempFile(std::wstring path, UniqueHandle handle);
    ~TempFile();
    TempFile(TempFile&&) noexcept;
    TempFile& operator=(TempFile&&) noexcept;

    const std::wstring& path() const { return path_; }
    HANDLE handle() const { return handle_.get(); }

private:
    friend IoStatus persist_temp_file(TempFile&& file, const std::wstring& dest);
    std::wstring path_;
    UniqueHandle handle_;
};

// A temporary folder (prefix + 6 random characters); removed with its content when
// let go of, unless kept.
class TempFolder {
public:
    explicit TempFolder(std::wstring path);
    ~TempFolder();
    TempFolder(TempFolder&&) noexcept;
    TempFolder& operator=(TempFolder&&) noexcept;

    // The folder's path (no trailing separator).
    const std::wstring& path() const { return path_; }
    // Leave the folder on disk (its path is named in a recovery message).
    void keep() { kept_ = true; }

private:
    std::wstring path_;
    bool kept_ = false;
};

IoResult<TempFile> create_temp_file(const std::wstring& dir);
IoResult<TempFolder> create_temp_folder(const std::wstring& dir, std::wstring_view prefix);

// Clears the temporary attribute and moves the file over dest. On failure the file
// is deleted as usual and the error returned.
IoStatus persist_temp_file(TempFile&& file, const std::wstring& dest);

}  // namespace vantrel
