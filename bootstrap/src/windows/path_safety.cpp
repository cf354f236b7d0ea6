#include "windows/path_safety.hpp"

#include <windows.h>

#include <sodium.h>

#include <array>

#include "windows/file_services.hpp"
#include "windows/handle_streams.hpp"
#include "windows/system_error.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {
namespace {

constexpr std::size_t digest_block_size = 8192;

IoResult<BY_HANDLE_FILE_INFORMATION> file_information(const std::wstring& path) {
    auto file = open_for_reading(path);
    if (!file)
        return std::move(file).error();
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file->get(), &information))
        return last_os_error();
    return information;
}

struct FilePair {
    BY_HANDLE_FILE_INFORMATION first;
    BY_HANDLE_FILE_INFORMATION second;
};

// Both files' handle information, a first, then b; the first failure is returned.
IoResult<FilePair> file_information_of_both(const std::wstring& a, const std::wstring& b) {
    auto first = file_information(a);
    if (!first)
        return std::move(first).error();
    auto second = file_information(b);
    if (!second)
        return std::move(second).error();
    return FilePair{*first, *second};
}

std::uint64_t file_size(const BY_HANDLE_FILE_INFORMATION& information) {
    return std::uint64_t(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
}

// Through a handle opened on the reparse point itself, not on what it points to.
std::optional<std::uint32_t> reparse_tag(const std::wstring& path) {
    const UniqueHandle point(
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!point)
        return std::nullopt;
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!GetFileInformationByHandleEx(point.get(), FileAttributeTagInfo, &information,
                                      sizeof information)) {
        return std::nullopt;
    }
    return information.ReparseTag;
}

}  // namespace

bool is_missing_error(std::uint32_t code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return true;
        default:
            return false;
    }
}

LinkMetadata query_link_metadata(const std::wstring& path) {
    // GetFileAttributesExW reports a link's own attributes, not its target's.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        LinkMetadata failed;
        failed.error = GetLastError();
        return failed;
    }
    LinkMetadata metadata;
    metadata.attributes = data.dwFileAttributes;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        metadata.reparse_tag = reparse_tag(path);
    return metadata;
}

Status ensure_no_links(const std::wstring& path, const MetadataQuery& query) {
    std::wstring current = normalized_path(path);
    for (;;) {
        const LinkMetadata metadata = query(current);
        if (metadata.error != 0) {
            // A path that does not exist yet may still be created.
            if (!is_missing_error(metadata.error)) {
                return Error::from_io(Stage::Installation, os_error(metadata.error));
            }
        } else if (metadata.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            return Error::from_text(Stage::Installation, links_refused_message);
        }
        std::optional<std::wstring> parent = parent_path(current);
        if (!parent)
            return {};
        current = std::move(*parent);
    }
}

Status ensure_no_links(const std::wstring& path) {
    return ensure_no_links(path, query_link_metadata);
}

Status ensure_no_links(std::initializer_list<std::wstring> paths, const MetadataQuery& query) {
    for (const std::wstring& path : paths) {
        if (Status safe = ensure_no_links(path, query); !safe)
            return safe;
    }
    return {};
}

Status ensure_no_links(std::initializer_list<std::wstring> paths) {
    return ensure_no_links(paths, query_link_metadata);
}

IoStatus check_regular_file(const std::wstring& path, const MetadataQuery& query) {
    const LinkMetadata metadata = query(normalized_path(path));
    if (metadata.error != 0)
        return os_error(metadata.error);
    const bool folder = metadata.attributes & FILE_ATTRIBUTE_DIRECTORY;
    // A reparse point whose tag cannot be read is treated as a link.
    const bool link = (metadata.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (!metadata.reparse_tag || IsReparseTagNameSurrogate(*metadata.reparse_tag));
    if (folder || link) {
        return IoError::raised(std::string(not_regular_file_message) + path_text(path));
    }
    return {};
}

IoStatus check_regular_file(const std::wstring& path) {
    return check_regular_file(path, query_link_metadata);
}

IoResult<bool> same_file(const std::wstring& a, const std::wstring& b) {
    const auto files = file_information_of_both(a, b);
    if (!files)
        return files.error();
    const auto& [first, second] = *files;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool same_file_or_missing(const std::wstring& a, const std::wstring& expected) {
    if (const auto same = same_file(a, expected))
        return *same;
    return same_path(a, expected) && is_missing_error(query_link_metadata(expected).error);
}

IoResult<bool> same_content(const std::wstring& a, const std::wstring& b) {
    const auto files = file_information_of_both(a, b);
    if (!files)
        return files.error();
    if (file_size(files->first) != file_size(files->second))
        return false;
    const auto first_digest = file_sha256(a);
    if (!first_digest)
        return first_digest.error();
    const auto second_digest = file_sha256(b);
    if (!second_digest)
        return second_digest.error();
    return *first_digest == *second_digest;
}

IoResult<Sha256Digest> file_sha256(const std::wstring& path) {
    auto file = open_for_reading(path);
    if (!file)
        return std::move(file).error();
    require_sodium();
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    HandleSource source(file->get());
    std::array<std::uint8_t, digest_block_size> block{};
    for (;;) {
        const auto count = source.read(block);
        if (!count)
            return count.error();
        if (*count == 0)
            break;
        crypto_hash_sha256_update(&state, block.data(), *count);
    }
    Sha256Digest digest{};
    crypto_hash_sha256_final(&state, digest.data());
    return digest;
}

}  // namespace vantrel
