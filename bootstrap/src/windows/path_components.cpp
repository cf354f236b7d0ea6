#include "windows/path_components.hpp"

#include <algorithm>

#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

bool is_separator(wchar_t c, bool verbatim) {
    return c == L'\\' || (!verbatim && c == L'/');
}

bool is_ascii_letter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

wchar_t ascii_upper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? wchar_t(c - L'a' + L'A') : c;
}

// Reads one name up to the next separator (or the end) and moves past it.
std::wstring_view take_name(std::wstring_view& rest, bool verbatim) {
    std::size_t end = 0;
    while (end < rest.size() && !is_separator(rest[end], verbatim))
        ++end;
    const std::wstring_view name = rest.substr(0, end);
    rest.remove_prefix(end);
    return name;
}

void skip_one_separator(std::wstring_view& rest, bool verbatim) {
    if (!rest.empty() && is_separator(rest.front(), verbatim))
        rest.remove_prefix(1);
}

bool is_drive(std::wstring_view text) {
    return text.size() >= 2 && is_ascii_letter(text[0]) && text[1] == L':';
}

// Parses the part after "\\?\" and returns what remains after the prefix.
std::wstring_view parse_verbatim(std::wstring_view rest, PathParts& parts) {
    if (rest.substr(0, 4) == L"UNC\\") {
        parts.kind = PathPrefixKind::VerbatimUnc;
        rest.remove_prefix(4);
        parts.first = take_name(rest, true);
        skip_one_separator(rest, true);
        parts.second = take_name(rest, true);
    } else if (is_drive(rest) && (rest.size() == 2 || rest[2] == L'\\')) {
        parts.kind = PathPrefixKind::VerbatimDisk;
        parts.first = rest.substr(0, 1);
        rest.remove_prefix(2);
    } else {
        parts.kind = PathPrefixKind::Verbatim;
        parts.first = take_name(rest, true);
    }
    return rest;
}

bool same_prefix(const PathParts& a, const PathParts& b) {
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
        case PathPrefixKind::None:
            return true;
        case PathPrefixKind::Disk:
        case PathPrefixKind::VerbatimDisk:
            return ascii_upper(a.first[0]) == ascii_upper(b.first[0]);
        case PathPrefixKind::Unc:
        case PathPrefixKind::Device:
        case PathPrefixKind::Verbatim:
        case PathPrefixKind::VerbatimUnc:
            return a.first == b.first && a.second == b.second;
    }
    return false;
}

// The prefix as written, the root and the first count components, joined with
// backslashes.
std::wstring rebuilt(const PathParts& parts, std::size_t count) {
    std::wstring path(parts.prefix);
    if (parts.has_root)
        path += L'\\';
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            path += L'\\';
        path += parts.components[i];
    }
    return path;
}

}  // namespace

PathParts split_path(std::wstring_view path) {
    PathParts parts;
    std::wstring_view rest = path;
    if (rest.size() >= 2 && is_separator(rest[0], false) && is_separator(rest[1], false)) {
        if (rest.substr(0, 4) == L"\\\\?\\") {
            rest = parse_verbatim(rest.substr(4), parts);
        } else if (rest.size() >= 4 && rest[2] == L'.' && is_separator(rest[3], false)) {
            parts.kind = PathPrefixKind::Device;
            rest.remove_prefix(4);
            parts.first = take_name(rest, false);
        } else {
            parts.kind = PathPrefixKind::Unc;
            rest.remove_prefix(2);
            parts.first = take_name(rest, false);
            skip_one_separator(rest, false);
            parts.second = take_name(rest, false);
        }
        // A "\\" path is always absolute.
        parts.has_root = true;
    } else if (is_drive(rest)) {
        parts.kind = PathPrefixKind::Disk;
        parts.first = rest.substr(0, 1);
        rest.remove_prefix(2);
    }
    parts.prefix = path.substr(0, path.size() - rest.size());

    const bool verbatim = parts.kind == PathPrefixKind::Verbatim ||
                          parts.kind == PathPrefixKind::VerbatimDisk ||
                          parts.kind == PathPrefixKind::VerbatimUnc;
    if (!rest.empty() && is_separator(rest.front(), verbatim))
        parts.has_root = true;
    while (!rest.empty()) {
        skip_one_separator(rest, verbatim);
        const std::wstring_view name = take_name(rest, verbatim);
        if (name.empty() || (name == L"." && !verbatim))
            continue;
        parts.components.push_back(name);
    }
    return parts;
}

bool same_path(std::wstring_view a, std::wstring_view b) {
    const PathParts left = split_path(a);
    const PathParts right = split_path(b);
    return same_prefix(left, right) && left.has_root == right.has_root &&
           std::equal(left.components.begin(), left.components.end(), right.components.begin(),
                      right.components.end());
}

std::wstring normalized_path(std::wstring_view path) {
    const PathParts parts = split_path(path);
    return rebuilt(parts, parts.components.size());
}

std::optional<std::wstring> parent_path(std::wstring_view path) {
    const PathParts parts = split_path(path);
    if (parts.components.empty())
        return std::nullopt;
    std::wstring parent = rebuilt(parts, parts.components.size() - 1);
    if (parent.empty())
        return std::nullopt;
    return parent;
}

std::optional<std::wstring> file_name(std::wstring_view path) {
    const PathParts parts = split_path(path);
    if (parts.components.empty())
        return std::nullopt;
    return std::wstring(parts.components.back());
}

std::string path_text(std::wstring_view path) {
    std::wstring repaired(path);
    for (std::size_t i = 0; i < repaired.size(); ++i) {
        const wchar_t c = repaired[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < repaired.size() && repaired[i + 1] >= 0xDC00 &&
            repaired[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            repaired[i] = 0xFFFD;
        }
    }
    // from_wide cuts at a NUL, which a path cannot contain anyway.
    return from_wide(repaired).value_or(std::string());
}

}  // namespace vantrel
