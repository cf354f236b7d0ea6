#include "lib/tar_entry_name.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "lib/tar_format.hpp"

namespace vantrel {
namespace {

using namespace tar_format;

constexpr std::uint8_t base_256_mark = 0x80;
// Record types that come before the header they apply to and carry data of their own.
constexpr std::string_view record_types = "LxXgKAEV";
// A fixed-width text field, up to its first NUL.
std::string_view field_text(ByteView header, Field field) {
    const std::string_view text = as_text(header.subspan(field.offset, field.width));
    return text.substr(0, text.find('\0'));
}

// Takes the value of each "path" record of a pax body ("<length> <key>=<value>\n"
// each) into path; false when the body is malformed.
bool take_pax_path(std::string_view body, std::optional<std::string>& path) {
    while (!body.empty()) {
        std::size_t length = 0;
        const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), length);
        const auto digits = static_cast<std::size_t>(end - body.data());
        if (error != std::errc() || length <= digits + 1 || length > body.size() ||
            body[digits] != ' ' || body[length - 1] != '\n') {
            return false;
        }
        const std::string_view record = body.substr(digits + 1, length - digits - 2);
        const std::size_t equals = record.find('=');
        if (equals == std::string_view::npos)
            return false;
        if (record.substr(0, equals) == "path")
            path = std::string(record.substr(equals + 1));
        body.remove_prefix(length);
    }
    return true;
}

std::string header_name(ByteView header) {
    const std::string_view name = field_text(header, name_field);
    const std::string_view prefix = field_text(header, prefix_field);
    const bool posix =
        as_text(header.subspan(magic_field.offset, magic_field.width)) == posix_magic;
    if (!posix || prefix.empty())
        return std::string(name);
    return std::string(prefix) + "/" + std::string(name);
}

}  // namespace

std::optional<std::uint64_t> tar_record_size(ByteView header) {
    const ByteView field = header.subspan(size_field.offset, size_field.width);
    std::uint64_t size = 0;
    if ((field[0] & base_256_mark) != 0) {
        if ((field[0] & ~base_256_mark) != 0)
            return std::nullopt;
        for (std::size_t i = 1; i < field.size(); ++i) {
            // Checked before the shift, so that the sum can never wrap.
            if (size > tar_largest_record >> 8)
                return std::nullopt;
            size = (size << 8) | field[i];
        }
        return size <= tar_largest_record ? std::optional(size) : std::nullopt;
    }
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '7'; ++i)
        size = size * 8 + (field[i] - '0');
    return size;
}

std::optional<std::string> tar_entry_name(ByteView blocks) {
    std::optional<std::string> long_name;
    std::optional<std::string> path;
    while (blocks.size() >= block_size) {
        const ByteView header = blocks.first(block_size);
        blocks = blocks.subspan(block_size);
        const char type = static_cast<char>(header[type_flag_offset]);
        if (record_types.find(type) == std::string_view::npos) {
            if (!blocks.empty())
                return std::nullopt;
            if (long_name)
                return long_name;
            return path ? path : header_name(header);
        }
        const std::optional<std::uint64_t> size = tar_record_size(header);
        if (!size || *size > blocks.size())
            return std::nullopt;
        const std::string_view body = as_text(blocks.first(static_cast<std::size_t>(*size)));
        if (type == 'L') {
            long_name = std::string(body.ends_with('\0') ? body.substr(0, body.size() - 1) : body);
        } else if ((type == 'x' || type == 'X') && !take_pax_path(body, path)) {
            return std::nullopt;
        }
        const std::size_t padded = (body.size() + block_size - 1) / block_size * block_size;
        blocks = blocks.subspan(std::min(padded, blocks.size()));
    }
    return std::nullopt;
}

}  // namespace vantrel
