#pragma once

#include "lib/bytes.hpp"
#include "lib/result.hpp"

namespace vantrel {

// Something bytes are written to in order: a file handle, or memory.
class ByteSink {
  public:
    virtual ~ByteSink() = default;

    // Writes all of bytes, or fails.
    virtual IoStatus write(ByteView bytes) = 0;
};

// Appends to a byte buffer, which must outlive the sink.
class MemorySink final : public ByteSink {
  public:
    explicit MemorySink(Bytes& out) : out_(out) {}

    IoStatus write(ByteView bytes) override {
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        return {};
    }

  private:
    Bytes& out_;
};

}  // namespace vantrel
