#include "lib/digest.hpp"

#include <sodium.h>

#include "lib/internal_fault.hpp"

namespace vantrel {

void require_sodium() {
    // A function-local static runs sodium_init exactly once, even when two threads
    // get here at the same time.
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        internal_fault("libsodium could not be initialised");
    }
}

Sha256Digest sha256(ByteView data) {
    require_sodium();
    Sha256Digest digest{};
    static_assert(digest.size() == crypto_hash_sha256_BYTES);
    crypto_hash_sha256(digest.data(), data.data(), data.size());
    return digest;
}

Blake2b512Digest blake2b_512(ByteView data) {
    require_sodium();
    Blake2b512Digest digest{};
    static_assert(digest.size() <= crypto_generichash_blake2b_BYTES_MAX);
    if (crypto_generichash_blake2b(digest.data(), digest.size(), data.data(), data.size(), nullptr,
                                   0) != 0) {
        internal_fault("BLAKE2b-512 refused its parameters");
    }
    return digest;
}

std::string lower_hex(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

}  // namespace vantrel
