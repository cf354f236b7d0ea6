#include "lib/whole_inflate.hpp"

#include <libdeflate.h>

#include <cstdint>
#include <memory>

namespace vantrel {
namespace {

constexpr std::size_t smallest_member = 18;  // 10-byte header, empty block, 8-byte trailer
constexpr std::size_t flags_offset = 3;
constexpr std::uint8_t header_checksum_flag = 0x02;
constexpr std::size_t stated_length_size = 4;

struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

// The last four bytes: the member's length modulo 2^32, little-endian. When data
// follows the member they are not its trailer: a length too short fails, one too
// long only costs memory, as libdeflate checks the member's own trailer.
std::size_t stated_length(ByteView compressed) {
    std::size_t length = 0;
    for (std::size_t i = compressed.size(); i-- > compressed.size() - stated_length_size;)
        length = (length << 8) | compressed[i];
    return length;
}

}  // namespace

std::optional<Bytes> inflate_whole(ByteView compressed, std::size_t limit) {
    if (compressed.size() < smallest_member ||
        (compressed[flags_offset] & header_checksum_flag) != 0) {
        return std::nullopt;
    }
    const std::size_t length = stated_length(compressed);
    if (length > limit)
        return std::nullopt;
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor)
        return std::nullopt;
    Bytes out(length);
    std::size_t used = 0;
    std::size_t produced = 0;
    if (libdeflate_gzip_decompress_ex(decompressor.get(), compressed.data(), compressed.size(),
                                      out.data(), out.size(), &used,
                                      &produced) != LIBDEFLATE_SUCCESS) {
        return std::nullopt;
    }
    out.resize(produced);
    return out;
}

}  // namespace vantrel
