#include "entry/command_line.hpp"

namespace vantrel {
namespace {

constexpr char16_t space = u' ';
constexpr char16_t tab = u'\t';
constexpr char16_t quote = u'"';
constexpr char16_t backslash = u'\\';

bool is_blank(char16_t c) {
    return c == space || c == tab;
}

std::size_t skip_blanks(std::u16string_view text, std::size_t i) {
    while (i < text.size() && is_blank(text[i]))
        ++i;
    return i;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view text) {
    std::vector<std::u16string> args;

    // The program name: quotes toggle and are dropped, backslashes are plain.
    std::u16string program;
    bool quoted = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == quote) {
            quoted = !quoted;
        } else if (is_blank(c) && !quoted) {
            break;
        } else {
            program += c;
        }
    }
    args.push_back(std::move(program));
    i = skip_blanks(text, i);

    std::u16string current;
    // A quote starts an argument even if it adds nothing, so "" is an empty argument.
    bool started = false;
    quoted = false;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (is_blank(c) && !quoted) {
            args.push_back(std::move(current));
            current.clear();
            started = false;
            i = skip_blanks(text, i);
        } else if (c == backslash) {
            std::size_t run = 0;
            while (i < text.size() && text[i] == backslash) {
                ++run;
                ++i;
            }
            started = true;
            if (i < text.size() && text[i] == quote) {
                current.append(run / 2, backslash);
                if (run % 2 == 1) {
                    current += quote;
                    ++i;
                }
            } else {
                current.append(run, backslash);
            }
        } else if (c == quote) {
            started = true;
            if (!quoted) {
                quoted = true;
            } else if (i + 1 < text.size() && text[i + 1] == quote) {
                current += quote;
                ++i;
            } else {
                quoted = false;
            }
            ++i;
        } else {
            started = true;
            current += c;
            ++i;
        }
    }
    if (started || quoted)
        args.push_back(std::move(current));
    return args;
}

}  // namespace vantrel
