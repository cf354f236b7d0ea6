// verify_signature against the built-in (test) key. The input's first two bytes
// give the data length, little-endian; the data follows, the rest is the signature
// file.
#include <cstddef>
#include <cstdint>

#include "lib/build_settings.hpp"
#include "lib/internal_fault.hpp"
#include "lib/public_key.hpp"
#include "lib/release_verification.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace vantrel;
    static const PublicKey key = decode_public_key(built_in_release_key()).value();

    const ByteView input(bytes, size);
    if (input.size() < 2) {
        return 0;
    }
    const std::size_t declared = input[0] | (std::size_t{input[1]} << 8);
    const ByteView rest = input.subspan(2);
    const std::size_t data_size = declared < rest.size() ? declared : rest.size();

    const Status status = verify_signature(key, rest.first(data_size), rest.subspan(data_size));
    if (!status &&
        (status.error().stage() != Stage::Verification || status.error().detail().empty())) {
        internal_fault("signature failure without a Verification detail");
    }
    return 0;
}
