#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "lib/byte_source.hpp"
#include "lib/bytes.hpp"
#include "lib/result.hpp"

namespace vantrel {

// The decompressed bytes of the first gzip member of compressed data held in
// memory; its CRC-32 and length trailer are checked when its end is reached.
// Bytes after that member are never looked at.
//
// A failure is reported lazily, the way a consumer reading only what it needs
// would meet it: bytes decoded before a fault are returned first and the fault
// by the next read, which keeps returning it.
class GzipStream final : public ByteSource {
  public:
    // The compressed bytes must outlive the stream.
    explicit GzipStream(ByteView compressed);
    ~GzipStream() override;
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    IoResult<std::size_t> read(std::span<std::uint8_t> buffer) override;

  private:
    IoError failure_of(int code) const;

    // zlib keeps a pointer back to the z_stream: the object must not move.
    z_stream stream_{};
    gz_header header_{};
    ByteView unread_;  // compressed bytes not yet handed to zlib
    bool initialised_ = false;
    bool ended_ = false;
    std::optional<IoError> failure_;
};

}  // namespace vantrel
