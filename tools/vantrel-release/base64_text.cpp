#include "vantrel-release/base64_text.hpp"

#include <sodium.h>

#include "lib/digest.hpp"

namespace vantrel::release_tool {

std::string encode_base64(ByteView bytes) {
    require_sodium();
    constexpr int variant = sodium_base64_VARIANT_ORIGINAL;
    std::string text(sodium_base64_encoded_len(bytes.size(), variant), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), variant);
    text.pop_back();  // the terminating NUL the encoder counts in
    return text;
}

}  // namespace vantrel::release_tool
