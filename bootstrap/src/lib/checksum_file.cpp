#include "lib/checksum_file.hpp"

#include <algorithm>
#include <array>

#include "lib/digest.hpp"
#include "lib/utf.hpp"

namespace vantrel {
namespace {

constexpr std::string_view checksum_mismatch =
    "SHA-256 checksum or archive filename does not match.";

// Every code point with the Unicode White_Space property.
constexpr std::array<char32_t, 25> white_space = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

struct CodePoint {
    char32_t value;
    std::size_t length;
};

// The code point at the start of text. Text is valid UTF-8; the bounds are checked
// anyway so that a bad caller reads nothing outside it.
CodePoint first_code_point(std::string_view text) {
    const auto first = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    char32_t value = first;
    if (first >= 0xF0) {
        length = 4;
        value = first & 0x07;
    } else if (first >= 0xE0) {
        length = 3;
        value = first & 0x0F;
    } else if (first >= 0xC0) {
        length = 2;
        value = first & 0x1F;
    }
    if (length > text.size()) {
        return {first, 1};
    }
    for (std::size_t k = 1; k < length; ++k) {
        value = (value << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
    }
    return {value, length};
}

bool is_white_space(char32_t value) {
    return std::find(white_space.begin(), white_space.end(), value) != white_space.end();
}

}  // namespace

std::vector<std::string_view> split_at_white_space(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t word_start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const CodePoint code_point = first_code_point(text.substr(i));
        if (is_white_space(code_point.value)) {
            if (i > word_start) {
                words.push_back(text.substr(word_start, i - word_start));
            }
            word_start = i + code_point.length;
        }
        i += code_point.length;
    }
    if (text.size() > word_start) {
        words.push_back(text.substr(word_start));
    }
    return words;
}

Status check_checksum_file(ByteView checksum_file, std::string_view archive_name,
                           const Sha256Digest& package_digest) {
    const std::string_view text = as_text(checksum_file);
    if (const auto failure = find_invalid_utf8(text)) {
        return Error::from_utf8(*failure);
    }

    const std::vector<std::string_view> words = split_at_white_space(text);
    if (words.size() != 2) {
        return Error::from_text(Stage::Verification, checksum_mismatch);
    }
    std::string_view name = words[1];
    if (name.starts_with('*')) {
        name.remove_prefix(1);
    }
    if (name != archive_name) {
        return Error::from_text(Stage::Verification, checksum_mismatch);
    }
    if (words[0] != lower_hex(package_digest)) {
        return Error::from_text(Stage::Verification, checksum_mismatch);
    }
    return {};
}

}  // namespace vantrel
