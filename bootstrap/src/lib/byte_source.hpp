#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/result.hpp"

namespace vantrel {

// Something bytes are read from in order: a file handle, or memory.
class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // Reads at most buffer.size() bytes into the front of buffer and returns how many;
    // 0 means the end of the data.
    virtual IoResult<std::size_t> read(std::span<std::uint8_t> buffer) = 0;
};

// The failure of read_exact when the data ends first.
inline constexpr std::string_view end_of_data_message = "unexpected end of file";

// Fills the whole buffer, or fails with end_of_data_message or the source's failure.
IoStatus read_exact(ByteSource& source, std::span<std::uint8_t> buffer);

// Reads from bytes held elsewhere, which must outlive the source.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(ByteView bytes) : rest_(bytes) {}

    IoResult<std::size_t> read(std::span<std::uint8_t> buffer) override;

  private:
    ByteView rest_;
};

}  // namespace vantrel
