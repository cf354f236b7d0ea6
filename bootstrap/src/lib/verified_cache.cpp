#include "lib/verified_cache.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/release_limits.hpp"

namespace vantrel {
namespace {

constexpr std::string_view cache_magic = "VLCACHE1";

constexpr std::string_view invalid_cache_message = "Invalid cache";
constexpr std::string_view too_large_message = "Cache too large";
constexpr std::string_view trailing_data_message = "Trailing cache data";

struct RecordSlot {
    Bytes ReleaseFiles::*field;
    std::size_t size_limit;
};

// Download order, which is also artifact order.
constexpr std::array<RecordSlot, 4> record_slots{{
    {&ReleaseFiles::package, package_size_limit},
    {&ReleaseFiles::checksum, companion_size_limit},
    {&ReleaseFiles::signature, companion_size_limit},
    {&ReleaseFiles::checksum_signature, companion_size_limit},
}};

static_assert(package_size_limit <= UINT32_MAX && companion_size_limit <= UINT32_MAX,
              "a record within its limit must fit the 32-bit length field");

using LengthField = std::array<std::uint8_t, 4>;

std::uint32_t decode_length(const LengthField& field) {
    return std::uint32_t(field[0]) | std::uint32_t(field[1]) << 8 | std::uint32_t(field[2]) << 16 |
           std::uint32_t(field[3]) << 24;
}

LengthField encode_length(std::uint32_t length) {
    return {std::uint8_t(length), std::uint8_t(length >> 8), std::uint8_t(length >> 16),
            std::uint8_t(length >> 24)};
}

IoError failure(std::string_view message) {
    return IoError::raised(std::string(message));
}

}  // namespace

IoResult<ReleaseFiles> read_verified_cache(ByteSource& source) {
    std::array<std::uint8_t, cache_magic.size()> magic{};
    if (auto read = read_exact(source, magic); !read)
        return std::move(read).error();
    if (!std::equal(magic.begin(), magic.end(), as_bytes(cache_magic).begin())) {
        return failure(invalid_cache_message);
    }

    ReleaseFiles files;
    for (const RecordSlot& slot : record_slots) {
        LengthField field{};
        if (auto read = read_exact(source, field); !read)
            return std::move(read).error();
        const std::uint32_t length = decode_length(field);
        // Checked before allocating, so a corrupt length costs at most the limit.
        if (length > slot.size_limit)
            return failure(too_large_message);
        Bytes& record = files.*slot.field;
        record.resize(length);
        if (auto read = read_exact(source, record); !read)
            return std::move(read).error();
    }

    std::array<std::uint8_t, 1> extra{};
    auto count = source.read(extra);
    if (!count)
        return std::move(count).error();
    if (*count != 0)
        return failure(trailing_data_message);
    return files;
}

IoStatus write_verified_cache_contents(ByteSink& sink, const ReleaseFiles& files) {
    for (const RecordSlot& slot : record_slots) {
        if ((files.*slot.field).size() > slot.size_limit)
            return failure(too_large_message);
    }
    if (auto written = sink.write(as_bytes(cache_magic)); !written)
        return written;
    for (const RecordSlot& slot : record_slots) {
        const Bytes& record = files.*slot.field;
        const LengthField field = encode_length(static_cast<std::uint32_t>(record.size()));
        if (auto written = sink.write(field); !written)
            return written;
        if (auto written = sink.write(record); !written)
            return written;
    }
    return {};
}

}  // namespace vantrel
