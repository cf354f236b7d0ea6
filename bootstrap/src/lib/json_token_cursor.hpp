#pragma once

#include <cstddef>
#include <string_view>

namespace vantrel {

// Byte indexes of one token, both inclusive.
struct JsonSpan {
    std::size_t first;
    std::size_t last;
};

// Follows the tokens that nlohmann's SAX parser reports, to know where each one
// lies in the text (the parser reports no positions except for its own errors).
// The parser reports tokens in text order and only after it has checked them
// and the separators before them, so the cursor only skips and measures.
class JsonTokenCursor {
  public:
    explicit JsonTokenCursor(std::string_view text) : text_(text) {}

    // Skips white space, commas and colons and moves past the token there.
    JsonSpan next_token();

    // The first byte after the last token that is not white space, or
    // text.size() when only white space is left.
    std::size_t next_significant() const;

    std::string_view text_of(JsonSpan span) const {
        return text_.substr(span.first, span.last - span.first + 1);
    }

  private:
    std::size_t token_end(std::size_t first) const;
    std::size_t string_end(std::size_t first) const;
    std::size_t number_end(std::size_t first) const;
    std::size_t digits_end(std::size_t first) const;

    std::string_view text_;
    std::size_t next_ = 0;
};

}  // namespace vantrel
