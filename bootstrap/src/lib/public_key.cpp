#include "lib/public_key.hpp"

#include <algorithm>

#include "lib/base64.hpp"
#include "lib/signature_failure.hpp"
#include "lib/text_lines.hpp"

namespace vantrel {
namespace {

constexpr std::size_t encoded_key_length = 42;

}  // namespace

Result<PublicKey> decode_public_key(std::string_view text) {
    const std::vector<std::string_view> lines = split_lines(text);
    if (lines.size() < 2)
        return signature_error(SignatureFailure::InvalidEncoding);

    const auto decoded = decode_base64(lines[1]);
    if (!decoded || decoded->size() != encoded_key_length) {
        return signature_error(SignatureFailure::InvalidEncoding);
    }
    const std::vector<std::uint8_t>& bytes = *decoded;
    if (bytes[0] != 'E' || (bytes[1] != 'd' && bytes[1] != 'D')) {
        return signature_error(SignatureFailure::UnsupportedAlgorithm);
    }

    PublicKey key{};
    key.untrusted_comment = std::string(lines[0]);
    std::copy_n(bytes.begin(), key.algorithm.size(), key.algorithm.begin());
    std::copy_n(bytes.begin() + 2, key.key_id.size(), key.key_id.begin());
    std::copy_n(bytes.begin() + 10, key.key.size(), key.key.begin());
    return key;
}

}  // namespace vantrel
