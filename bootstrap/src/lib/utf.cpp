#include "lib/utf.hpp"

#include <cstdint>

namespace vantrel {
namespace {

struct Decoded {
    char32_t code_point;
    std::size_t length;  // 0: incomplete at the end
    bool valid;
};

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Decodes one sequence at bytes[i]. On an invalid sequence, length is the number of
// bytes that form its maximal valid prefix (at least 1).
Decoded decode_one(std::string_view bytes, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
    const unsigned char first = at(0);
    if (first < 0x80)
        return {first, 1, true};

    std::size_t width = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    char32_t value = 0;
    if (first >= 0xC2 && first <= 0xDF) {
        width = 2;
        value = first & 0x1F;
    } else if (first >= 0xE0 && first <= 0xEF) {
        width = 3;
        value = first & 0x0F;
        if (first == 0xE0)
            second_low = 0xA0;
        if (first == 0xED)
            second_high = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        width = 4;
        value = first & 0x07;
        if (first == 0xF0)
            second_low = 0x90;
        if (first == 0xF4)
            second_high = 0x8F;
    } else {
        return {0, 1, false};
    }

    for (std::size_t k = 1; k < width; ++k) {
        if (i + k >= bytes.size())
            return {0, 0, false};
        const unsigned char next = at(k);
        const bool fits =
            k == 1 ? (next >= second_low && next <= second_high) : is_continuation(next);
        if (!fits)
            return {0, k, false};
        value = (value << 6) | (next & 0x3F);
    }
    return {value, width, true};
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::optional<Utf8Failure> find_invalid_utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const Decoded d = decode_one(bytes, i);
        if (!d.valid)
            return Utf8Failure{i, d.length};
        i += d.length;
    }
    return std::nullopt;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const Decoded d = decode_one(utf8, i);
        if (!d.valid) {
            out += u'\uFFFD';
            i += d.length == 0 ? utf8.size() - i : d.length;
            continue;
        }
        if (d.code_point >= 0x10000) {
            const char32_t v = d.code_point - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            out += static_cast<char16_t>(d.code_point);
        }
        i += d.length;
    }
    return out;
}

std::optional<std::string> utf16_to_utf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= utf16.size())
                return std::nullopt;
            const char16_t low = utf16[i + 1];
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            append_utf8(out,
                        0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00));
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return std::nullopt;
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

}  // namespace vantrel
