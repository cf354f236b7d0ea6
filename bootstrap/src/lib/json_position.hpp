#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

// A place in a text, both counted from 1. Only a line feed ends a line, and a
// column counts bytes, so a carriage return before the line feed is the last
// column of its line.
struct TextPosition {
    std::size_t line;
    std::size_t column;

    bool operator==(const TextPosition&) const = default;
};

// The place of byte `index` of `text`; index text.size() is the place just past
// the last byte (where the end of the text is noticed).
TextPosition text_position(std::string_view text, std::size_t index);

// description + " at line L column C" for byte `index` of `text`.
std::string located(std::string_view description, std::string_view text, std::size_t index);

}  // namespace vantrel
