#include "lib/digest.hpp"

// The low-level SHA-256 functions rather than EVP: they take in the hash alone, not
// libcrypto's provider machinery, and still choose the SHA-extension code at run time.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>
#include <sodium.h>

#include "lib/internal_fault.hpp"

namespace vantrel {
namespace {

// About half a millisecond of hashing between two looks at the stop request.
constexpr std::size_t stop_check_interval = 1048576;

}  // namespace

void require_sodium() {
    // A function-local static runs sodium_init exactly once, even when two threads
    // get here at the same time.
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        internal_fault("libsodium could not be initialised");
    }
}

std::optional<Sha256Digest> sha256_unless_stopped(ByteView data, const std::stop_token& stop) {
    SHA256_CTX context;
    if (SHA256_Init(&context) != 1)
        internal_fault("SHA-256 could not start");
    while (!data.empty()) {
        if (stop.stop_requested())
            return std::nullopt;
        const ByteView chunk = data.first(std::min(data.size(), stop_check_interval));
        SHA256_Update(&context, chunk.data(), chunk.size());
        data = data.subspan(chunk.size());
    }
    Sha256Digest digest{};
    static_assert(digest.size() == SHA256_DIGEST_LENGTH);
    SHA256_Final(digest.data(), &context);
    return digest;
}

Sha256Digest sha256(ByteView data) {
    return *sha256_unless_stopped(data, std::stop_token());
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
