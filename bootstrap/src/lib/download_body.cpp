#include "lib/download_body.hpp"

#include <array>

#include "lib/download_rules.hpp"

namespace vantrel {

Result<Bytes> read_body(BodyChunkSource& source, const TransferClock& clock,
                        std::chrono::steady_clock::time_point started, std::uint64_t limit,
                        std::optional<std::uint64_t> total, const DownloadProgressHook& progress) {
    Bytes body;
    std::array<std::uint8_t, download_chunk_size> buffer;
    progress(0, total);
    for (;;) {
        if (download_time_exceeded(clock() - started))
            return download_timeout_error();
        Result<std::size_t> read = source.read(buffer);
        if (!read)
            return std::move(read).error();
        const std::size_t count = *read;
        if (count == 0)
            return body;
        if (exceeds_download_limit(body.size(), count, limit))
            return download_size_error();
        body.insert(body.end(), buffer.begin(), buffer.begin() + count);
        progress(body.size(), total);
    }
}

}  // namespace vantrel
