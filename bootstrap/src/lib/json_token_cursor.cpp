#include "lib/json_token_cursor.hpp"

#include "lib/internal_fault.hpp"

namespace vantrel {
namespace {

bool is_json_white_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

JsonSpan JsonTokenCursor::next_token() {
    std::size_t first = next_;
    while (first < text_.size() &&
           (is_json_white_space(text_[first]) || text_[first] == ',' || text_[first] == ':')) {
        ++first;
    }
    if (first >= text_.size())
        internal_fault("json token cursor ran past the text");
    next_ = token_end(first);
    return {first, next_ - 1};
}

std::size_t JsonTokenCursor::next_significant() const {
    std::size_t index = next_;
    while (index < text_.size() && is_json_white_space(text_[index]))
        ++index;
    return index;
}

std::size_t JsonTokenCursor::token_end(std::size_t first) const {
    switch (text_[first]) {
        case '"':
            return string_end(first);
        case 't':
        case 'n':
            return first + 4;
        case 'f':
            return first + 5;
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            return number_end(first);
        default:
            return first + 1;  // one of {}[]
    }
}

std::size_t JsonTokenCursor::string_end(std::size_t first) const {
    std::size_t index = first + 1;
    while (index < text_.size() && text_[index] != '"') {
        index += text_[index] == '\\' ? 2 : 1;
    }
    if (index >= text_.size())
        internal_fault("json token cursor ran past the text");
    return index + 1;
}

// A number ends where its grammar ends: "01" is the token 0 followed by 1.
std::size_t JsonTokenCursor::number_end(std::size_t first) const {
    std::size_t index = first;
    if (text_[index] == '-')
        ++index;
    index = index < text_.size() && text_[index] == '0' ? index + 1 : digits_end(index);
    if (index < text_.size() && text_[index] == '.')
        index = digits_end(index + 1);
    if (index < text_.size() && (text_[index] == 'e' || text_[index] == 'E')) {
        ++index;
        if (index < text_.size() && (text_[index] == '+' || text_[index] == '-'))
            ++index;
        index = digits_end(index);
    }
    return index;
}

std::size_t JsonTokenCursor::digits_end(std::size_t first) const {
    while (first < text_.size() && is_digit(text_[first]))
        ++first;
    return first;
}

}  // namespace vantrel
