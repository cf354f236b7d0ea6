#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/result.hpp"

namespace vantrel {

// The fields of a minisign signature file. The trusted comment points into the
// file that was read and lives as long as it does.
struct MinisignSignature {
    std::array<std::uint8_t, 2> algorithm;
    std::array<std::uint8_t, 8> key_id;
    std::array<std::uint8_t, 64> signature;
    std::string_view trusted_comment;  // without its "trusted comment: " prefix
    std::array<std::uint8_t, 64> global_signature;
};

// Reads the four lines of a signature file: untrusted comment, base64 of algorithm,
// key id and signature, trusted comment, base64 of the global signature. Lines after
// the fourth are ignored. Checks only the encoding; a failure is a Verification
// error (a text-decoding failure, or the signing tool's invalid-encoding message).
Result<MinisignSignature> read_minisign_signature(ByteView signature_file);

}  // namespace vantrel
