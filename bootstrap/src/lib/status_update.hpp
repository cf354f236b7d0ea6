#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// The wizard shows at most this many characters of a status or failure text.
inline constexpr std::size_t status_text_limit = 512;

// The first status_text_limit characters of a UTF-8 text; never splits a character.
std::string cut_status_text(std::string_view text);

// What the wizard shows under its body text while setup runs.
struct StatusUpdate {
    std::string text;                      // at most status_text_limit characters
    std::optional<std::uint32_t> percent;  // download percentage, 0..100

    friend bool operator==(const StatusUpdate&, const StatusUpdate&) = default;
};

// The status line as shown: the text, and " (NN%)" when there is a percentage.
std::string status_line(std::string_view text, std::optional<std::uint32_t> percent);

}  // namespace vantrel
