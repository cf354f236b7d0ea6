#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/result.hpp"

namespace vantrel {

// Succeeds when neither the path nor any ancestor is a reparse point (link,
// junction, mount point). Missing components are allowed. Stage Installation.
Status ensure_no_links(const std::wstring& path);

// A regular file: not a folder, not a symbolic link or junction.
IoStatus check_regular_file(const std::wstring& path);

// Paths equal component by component (see the layout rules); touches no file.
bool same_path(std::wstring_view a, std::wstring_view b);

// Both paths open and name one file (volume serial and file index).
IoResult<bool> same_file(const std::wstring& a, const std::wstring& b);

// same_file when it answers; otherwise true only if the paths are the same path
// and expected does not exist.
bool same_file_or_missing(const std::wstring& a, const std::wstring& expected);

// Equal size and equal SHA-256.
IoResult<bool> same_content(const std::wstring& a, const std::wstring& b);

IoResult<std::array<std::uint8_t, 32>> file_sha256(const std::wstring& path);

}  // namespace vantrel
