// Reads arbitrary bytes as a verified-launcher cache. Whatever is accepted must be
// written back as the very same bytes: the format has exactly one encoding.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lib/byte_sink.hpp"
#include "lib/byte_source.hpp"
#include "lib/verified_cache.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vantrel::ByteView input(data, size);
    vantrel::MemorySource source(input);
    const auto files = vantrel::read_verified_cache(source);
    if (!files)
        return 0;

    vantrel::Bytes written;
    vantrel::MemorySink sink(written);
    if (!vantrel::write_verified_cache_contents(sink, *files))
        __builtin_trap();
    if (written.size() != size || !std::equal(written.begin(), written.end(), input.begin())) {
        __builtin_trap();
    }
    return 0;
}
