#include "windows/file_services.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "windows/handle_streams.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/system_error.hpp"
#include "windows/temp_files.hpp"

namespace vantrel {
namespace {

constexpr std::size_t read_chunk_size = 65536;

// The attributes a file can be given; the others describe how it is stored.
constexpr DWORD settable_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A directory search, closed with FindClose.
class FindHandle {
  public:
    explicit FindHandle(HANDLE search) : search_(search) {}
    ~FindHandle() {
        if (*this)
            FindClose(search_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    explicit operator bool() const { return search_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return search_; }

  private:
    HANDLE search_;
};

}  // namespace

IoStatus copy_file_contents(HANDLE from, HANDLE to, std::size_t block_size) {
    HandleSource source(from);
    HandleSink sink(to);
    std::vector<std::uint8_t> chunk(block_size);
    for (;;) {
        const auto count = source.read(chunk);
        if (!count)
            return count.error();
        if (*count == 0)
            return {};
        if (auto written = sink.write(ByteView(chunk.data(), *count)); !written)
            return written;
    }
}

namespace {

IoStatus set_attributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO information{};
    // Zero times leave them as they are; zero attributes would too, so plain files
    // are given the normal attribute to drop the temporary one.
    information.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file, FileBasicInfo, &information, sizeof information)) {
        return last_os_error();
    }
    return {};
}

IoStatus restore_copy(const std::wstring& dest, const std::wstring& backup) {
    const std::optional<std::wstring> folder = parent_path(dest);
    if (!folder)
        return IoError::raised(std::string(no_recovery_parent_message));
    auto temp = create_temp_file(*folder);
    if (!temp)
        return std::move(temp).error();

    auto opened = open_for_reading(backup);
    if (!opened)
        return std::move(opened).error();
    const UniqueHandle source = std::move(opened).value();
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(source.get(), &information))
        return last_os_error();

    if (auto copied = copy_file_contents(source.get(), temp->handle(), read_chunk_size); !copied)
        return copied;
    if (auto set =
            set_attributes(temp->handle(), information.dwFileAttributes & settable_attributes);
        !set) {
        return set;
    }
    if (!FlushFileBuffers(temp->handle()))
        return last_os_error();
    temp->close();
    if (auto moved = move_replacing(temp->path(), dest); !moved)
        return moved;
    temp->mark_moved();
    return {};
}

}  // namespace

IoResult<UniqueHandle> open_for_reading(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return last_os_error();
    return file;
}

IoResult<Bytes> read_limited(ByteSource& source, std::size_t limit) {
    Bytes data;
    // One byte past the limit is enough to know the file is too long.
    while (data.size() <= limit) {
        const std::size_t start = data.size();
        const std::size_t wanted = std::min(read_chunk_size, limit + 1 - start);
        data.resize(start + wanted);
        const auto count = source.read(std::span(data).subspan(start, wanted));
        if (!count)
            return count.error();
        data.resize(start + *count);
        if (*count == 0)
            break;
    }
    if (data.size() > limit)
        return IoError::raised(std::string(size_limit_message));
    return data;
}

IoResult<Bytes> read_limited(UniqueHandle file, std::size_t limit) {
    HandleSource source(file.get());
    auto data = read_limited(source, limit);
    file.reset();
    return data;
}

IoStatus create_folder_tree(const std::wstring& folder) {
    if (CreateDirectoryW(folder.c_str(), nullptr))
        return {};
    DWORD code = GetLastError();
    if (code == ERROR_PATH_NOT_FOUND) {
        const std::optional<std::wstring> parent = parent_path(folder);
        if (!parent)
            return os_error(code);
        if (auto created = create_folder_tree(*parent); !created)
            return created;
        if (CreateDirectoryW(folder.c_str(), nullptr))
            return {};
        code = GetLastError();
    }
    if (code == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return {};
    }
    return os_error(code);
}

namespace {

// The path's attributes, or nothing when there is nothing at the path.
IoResult<std::optional<DWORD>> attributes_if_present(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return std::optional<DWORD>(attributes);
    const DWORD code = GetLastError();
    if (is_missing_error(code))
        return std::optional<DWORD>();
    return os_error(code);
}

}  // namespace

IoResult<bool> path_exists(const std::wstring& path) {
    IoResult<std::optional<DWORD>> attributes = attributes_if_present(path);
    if (!attributes)
        return std::move(attributes).error();
    return attributes->has_value();
}

IoResult<bool> folder_exists(const std::wstring& path) {
    IoResult<std::optional<DWORD>> attributes = attributes_if_present(path);
    if (!attributes)
        return std::move(attributes).error();
    return attributes->has_value() && (**attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

IoStatus copy_to_new_file(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileExW(from.c_str(), to.c_str(), nullptr, nullptr, nullptr,
                     COPY_FILE_FAIL_IF_EXISTS)) {
        return last_os_error();
    }
    return {};
}

IoStatus rename_replacing(const std::wstring& from, const std::wstring& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return last_os_error();
    return {};
}

IoStatus move_replacing(const std::wstring& from, const std::wstring& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return last_os_error();
    }
    return {};
}

IoStatus restore_from_backup(const std::wstring& dest, const std::wstring& backup,
                             bool backup_exists) {
    if (backup_exists)
        return restore_copy(dest, backup);
    // There was no file before the change. One that cannot be queried counts as gone.
    if (GetFileAttributesW(dest.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {};
    if (!DeleteFileW(dest.c_str()))
        return last_os_error();
    return {};
}

bool is_existing_file(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

IoStatus delete_own_file(const std::wstring& path) {
    if (DeleteFileW(path.c_str()))
        return {};
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (code != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return os_error(code);
    }
    if (!SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) ||
        !DeleteFileW(path.c_str())) {
        return last_os_error();
    }
    return {};
}

IoResult<std::vector<FolderEntry>> list_folder(const std::wstring& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW entry{};
    const FindHandle search(FindFirstFileExW(join_path(folder, L"*").c_str(), FindExInfoBasic,
                                             &entry, FindExSearchNameMatch, nullptr, 0));
    if (!search)
        return last_os_error();
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({std::wstring(name), entry.dwFileAttributes});
    } while (FindNextFileW(search.get(), &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        return last_os_error();
    return entries;
}

namespace {

// Removes one entry of a folder: a file, a link to a folder (never entered) or a folder
// with everything in it.
IoStatus remove_entry(const std::wstring& path, DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return delete_own_file(path);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Removing a linked folder removes the link, not its target.
        if (!RemoveDirectoryW(path.c_str()))
            return last_os_error();
        return {};
    }
    return remove_folder_tree(path);
}

}  // namespace

IoStatus remove_folder_tree(const std::wstring& folder) {
    IoStatus first_failure;
    const auto note = [&first_failure](IoStatus status) {
        if (!status && first_failure)
            first_failure = std::move(status);
    };
    IoResult<std::vector<FolderEntry>> entries = list_folder(folder);
    if (!entries)
        return std::move(entries).error();
    for (const FolderEntry& entry : *entries)
        note(remove_entry(join_path(folder, entry.name), entry.attributes));
    if (!RemoveDirectoryW(folder.c_str()))
        note(last_os_error());
    return first_failure;
}

}  // namespace vantrel
