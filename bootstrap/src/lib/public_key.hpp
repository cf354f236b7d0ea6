#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/result.hpp"

namespace vantrel {

// The decoded release-signing key.
struct PublicKey {
    std::string untrusted_comment;
    std::array<std::uint8_t, 8> key_id;
    std::array<std::uint8_t, 32> key;
    std::array<std::uint8_t, 2> algorithm;
};

// Decodes minisign public-key text: an untrusted-comment line and a base64 line of
// algorithm, key id and Ed25519 key. Lines after the second are ignored. A failure
// is a Verification error with the signing tool's message.
Result<PublicKey> decode_public_key(std::string_view text);

}  // namespace vantrel
