#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// How a Windows path begins, before its first normal component.
enum class PathPrefixKind {
    None,          // relative, or rooted on the current drive ("\a")
    Disk,          // "C:"
    Unc,           // "\\server\share"
    Device,        // "\\.\name"
    Verbatim,      // "\\?\name"
    VerbatimDisk,  // "\\?\C:"
    VerbatimUnc,   // "\\?\UNC\server\share"
};

// A path split into its parts; the views point into the parsed text.
struct PathParts {
    PathPrefixKind kind = PathPrefixKind::None;
    std::wstring_view prefix;  // as written
    std::wstring_view first;   // drive letter, server, or device or verbatim name
    std::wstring_view second;  // share
    bool has_root = false;     // a separator after the prefix (implied for \\ prefixes)
    std::vector<std::wstring_view> components;  // no empty or "." components
};

// Both separators count, except after "\\?\", where only the backslash does and
// "." is an ordinary name, as the system passes such paths on unchanged.
PathParts split_path(std::wstring_view path);

// Paths equal as paths: component by component, ignoring repeated separators, "."
// components, a trailing separator and the case of the drive letter; every other
// character's case counts. Touches no file.
bool same_path(std::wstring_view a, std::wstring_view b);

// The path rebuilt from its parts with backslashes, without repeated or trailing
// separators and "." components. A trailing separator matters to the system: it
// looks through a link instead of at it.
std::wstring normalized_path(std::wstring_view path);

// The path without its last component, with backslashes; nothing for a root, a bare
// prefix or a single relative name.
std::optional<std::wstring> parent_path(std::wstring_view path);

// The last component, or nothing when the path has none.
std::optional<std::wstring> file_name(std::wstring_view path);

// A path as UTF-8 text for messages; an unpaired surrogate becomes U+FFFD.
std::string path_text(std::wstring_view path);

}  // namespace vantrel
