#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "lib/bytes.hpp"
#include "lib/download_progress_hook.hpp"
#include "lib/result.hpp"

namespace vantrel {

// The body of one response, read piece by piece.
class BodyChunkSource {
  public:
    virtual ~BodyChunkSource() = default;

    // Fills the start of buffer; the count of bytes read, 0 at the end of the body, or
    // the Network error of the failed read.
    virtual Result<std::size_t> read(std::span<std::uint8_t> buffer) = 0;
};

using TransferClock = std::function<std::chrono::steady_clock::time_point()>;

// Reads the whole body under the size limit and the transfer time limit, counted from
// started. Reports 0 bytes first, then the running count after every chunk kept, each
// time with total unchanged.
Result<Bytes> read_body(BodyChunkSource& source, const TransferClock& clock,
                        std::chrono::steady_clock::time_point started, std::uint64_t limit,
                        std::optional<std::uint64_t> total, const DownloadProgressHook& progress);

}  // namespace vantrel
