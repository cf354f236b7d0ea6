#include "windows/temp_files.hpp"

#include <windows.h>

#include <optional>
#include <utility>
#include <vector>

#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

bool is_name_taken(DWORD code) {
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

// Tries fresh names until create makes one (a value), fails (an error) or every
// attempt found the name taken (nothing).
template <class Created, class Create>
IoResult<Created> create_with_free_name(const std::wstring& dir, std::wstring_view prefix,
                                        std::wstring_view suffix, NameSource& names,
                                        Create create) {
    for (std::uint32_t attempt = 1; attempt <= temp_name_attempts; ++attempt) {
        std::wstring name(prefix);
        name += names.next();
        name += suffix;
        IoResult<std::optional<Created>> outcome = create(join_path(dir, name));
        if (!outcome)
            return std::move(outcome).error();
        if (outcome->has_value())
            return std::move(**outcome);
        if (attempt == temp_name_attempts_before_reseed)
            names.reseed();
    }
    return IoError::raised("too many temporary files exist at path " + path_text(dir));
}

}  // namespace

TempFile::TempFile(std::wstring path, UniqueHandle handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}

TempFile::~TempFile() {
    remove();
}

TempFile::TempFile(TempFile&& other) noexcept
    : path_(std::exchange(other.path_, {})),
      handle_(std::move(other.handle_)),
      moved_(std::exchange(other.moved_, false)) {}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, {});
        handle_ = std::move(other.handle_);
        moved_ = std::exchange(other.moved_, false);
    }
    return *this;
}

void TempFile::remove() {
    handle_.reset();
    if (!path_.empty() && !moved_) {
        // Nothing is left to report to at this point; a stray file is harmless.
        static_cast<void>(delete_own_file(path_));
    }
    path_.clear();
}

TempFolder::TempFolder(std::wstring path) : path_(std::move(path)) {}

TempFolder::~TempFolder() {
    remove();
}

TempFolder::TempFolder(TempFolder&& other) noexcept
    : path_(std::exchange(other.path_, {})), kept_(std::exchange(other.kept_, false)) {}

TempFolder& TempFolder::operator=(TempFolder&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, {});
        kept_ = std::exchange(other.kept_, false);
    }
    return *this;
}

void TempFolder::remove() {
    if (!path_.empty() && !kept_) {
        // A file deleted while someone still has it open (a child process that has just
        // ended, a virus scanner) goes only when they let go, and its folder with it.
        for (std::uint32_t attempt = 0; attempt < temp_folder_removal_attempts; ++attempt) {
            if (remove_folder_tree(path_))
                break;
            Sleep(temp_folder_removal_pause_ms);
        }
    }
    path_.clear();
}

IoResult<TempFile> create_named_temp_file(const std::wstring& dir, std::wstring_view prefix,
                                          std::wstring_view suffix, DWORD attributes,
                                          NameSource& names) {
    return create_with_free_name<TempFile>(
        dir, prefix, suffix, names,
        [attributes](std::wstring path) -> IoResult<std::optional<TempFile>> {
            UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, CREATE_NEW, attributes, nullptr));
            if (!file) {
                const DWORD code = GetLastError();
                if (is_name_taken(code))
                    return std::optional<TempFile>();
                return os_error(code);
            }
            return std::optional<TempFile>(TempFile(std::move(path), std::move(file)));
        });
}

IoResult<TempFile> create_temp_file(const std::wstring& dir, NameSource& names) {
    return create_named_temp_file(dir, layout::temp_file_prefix, {}, FILE_ATTRIBUTE_TEMPORARY,
                                  names);
}

IoResult<TempFile> create_temp_file(const std::wstring& dir) {
    return create_temp_file(dir, random_names());
}

IoResult<TempFolder> create_temp_folder(const std::wstring& dir, std::wstring_view prefix,
                                        NameSource& names) {
    return create_with_free_name<TempFolder>(
        dir, prefix, {}, names, [](std::wstring path) -> IoResult<std::optional<TempFolder>> {
            if (!CreateDirectoryW(path.c_str(), nullptr)) {
                const DWORD code = GetLastError();
                if (is_name_taken(code))
                    return std::optional<TempFolder>();
                return os_error(code);
            }
            return std::optional<TempFolder>(TempFolder(std::move(path)));
        });
}

IoResult<TempFolder> create_temp_folder(const std::wstring& dir, std::wstring_view prefix) {
    return create_temp_folder(dir, prefix, random_names());
}

bool is_temp_name(std::wstring_view name, std::wstring_view prefix) {
    if (!name.starts_with(prefix))
        return false;
    const std::wstring_view random_part = name.substr(prefix.size());
    return random_part.size() == random_name_length &&
           random_part.find_first_not_of(random_name_alphabet) == std::wstring_view::npos;
}

void remove_temp_folders(const std::wstring& dir, std::wstring_view prefix,
                         const std::wstring& keep) {
    IoResult<std::vector<FolderEntry>> entries = list_folder(dir);
    if (!entries)
        return;
    for (const FolderEntry& entry : *entries) {
        // A link under such a name was made by someone else: it is not entered or removed.
        const bool plain_folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                  !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        const std::wstring path = join_path(dir, entry.name);
        if (plain_folder && is_temp_name(entry.name, prefix) && !same_path(path, keep))
            static_cast<void>(remove_folder_tree(path));
    }
}

IoStatus persist_temp_file(TempFile&& file, const std::wstring& dest) {
    // Taken over here, so that every failure below deletes the file on return.
    TempFile owned = std::move(file);
    if (!SetFileAttributesW(owned.path().c_str(), FILE_ATTRIBUTE_NORMAL))
        return last_os_error();
    if (auto moved = rename_replacing(owned.path(), dest); !moved) {
        SetFileAttributesW(owned.path().c_str(), FILE_ATTRIBUTE_TEMPORARY);
        return moved;
    }
    owned.mark_moved();
    return {};
}

}  // namespace vantrel
