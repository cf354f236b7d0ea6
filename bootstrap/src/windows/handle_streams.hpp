#pragma once

#include <windows.h>

#include "lib/byte_sink.hpp"
#include "lib/byte_source.hpp"

namespace vantrel {

// Reads from an open file handle at its current position; the handle stays owned
// by the caller.
class HandleSource final : public ByteSource {
  public:
    explicit HandleSource(HANDLE file) : file_(file) {}

    IoResult<std::size_t> read(std::span<std::uint8_t> buffer) override;

  private:
    HANDLE file_;
};

// Writes to an open file handle at its current position; the handle stays owned by
// the caller.
class HandleSink final : public ByteSink {
  public:
    explicit HandleSink(HANDLE file) : file_(file) {}

    IoStatus write(ByteView bytes) override;

  private:
    HANDLE file_;
};

}  // namespace vantrel
