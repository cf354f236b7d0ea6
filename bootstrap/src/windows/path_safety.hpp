#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "lib/digest.hpp"
#include "lib/result.hpp"
#include "windows/path_components.hpp"

namespace vantrel {

inline constexpr std::string_view links_refused_message =
    "Launcher paths must not contain links or junctions.";
inline constexpr std::string_view not_regular_file_message =
    "installed executable is not a regular file: ";

// Succeeds when neither the path nor any ancestor is a reparse point (link,
// junction, mount point). Missing components are allowed. Stage Installation.
Status ensure_no_links(const std::wstring& path);
// ensure_no_links for each path in turn, up to the first failure.
Status ensure_no_links(std::initializer_list<std::wstring> paths);

// A regular file: not a folder, not a symbolic link or junction.
IoStatus check_regular_file(const std::wstring& path);

// Both paths open and name one file (volume serial and file index).
IoResult<bool> same_file(const std::wstring& a, const std::wstring& b);

// same_file when it answers; otherwise true only if the paths are the same path
// and expected does not exist.
bool same_file_or_missing(const std::wstring& a, const std::wstring& expected);

// Equal size and equal SHA-256.
IoResult<bool> same_content(const std::wstring& a, const std::wstring& b);

// The digest of the whole file, read from the start in 8192-byte blocks.
IoResult<Sha256Digest> file_sha256(const std::wstring& path);

// What a metadata query that does not follow links found about one path.
struct LinkMetadata {
    std::uint32_t error = 0;  // the system error code; 0 when the query succeeded
    std::uint32_t attributes = 0;
    // The tag of a reparse point; nothing when it could not be read.
    std::optional<std::uint32_t> reparse_tag;
};

using MetadataQuery = std::function<LinkMetadata(const std::wstring& path)>;

// The real query: the path's own attributes, and its reparse tag when it is one.
LinkMetadata query_link_metadata(const std::wstring& path);

// The system's ways of saying that a path does not exist.
bool is_missing_error(std::uint32_t code);

// The decisions above over any metadata query, so that conditions the test
// system cannot create (junctions, symbolic links to files) are covered too.
Status ensure_no_links(const std::wstring& path, const MetadataQuery& query);
Status ensure_no_links(std::initializer_list<std::wstring> paths, const MetadataQuery& query);
IoStatus check_regular_file(const std::wstring& path, const MetadataQuery& query);

}  // namespace vantrel
