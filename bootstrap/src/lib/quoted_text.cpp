#include "lib/quoted_text.hpp"

#include <cstdio>

namespace vantrel {

std::string quoted_text(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default: {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x20 || byte == 0x7f) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u{%x}", byte);
                    out += escaped;
                } else {
                    out += c;
                }
            }
        }
    }
    out += '"';
    return out;
}

}  // namespace vantrel
