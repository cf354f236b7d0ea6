#include "lib/base64.hpp"

#include <array>

namespace vantrel {
namespace {

constexpr std::uint8_t not_base64 = 0xFF;

constexpr std::array<std::uint8_t, 256> make_decode_table() {
    std::array<std::uint8_t, 256> table{};
    table.fill(not_base64);
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> decode_table = make_decode_table();

}  // namespace

std::optional<std::vector<std::uint8_t>> decode_base64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (text.ends_with("==")) {
        padding = 2;
    } else if (text.ends_with('=')) {
        padding = 1;
    }
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const std::uint8_t value = decode_table[static_cast<unsigned char>(text[i])];
        if (value == not_base64)
            return std::nullopt;
        bits = (bits << 6) | value;
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> bit_count));
            bits &= (1u << bit_count) - 1;
        }
    }
    if (bits != 0)
        return std::nullopt;
    return out;
}

}  // namespace vantrel
