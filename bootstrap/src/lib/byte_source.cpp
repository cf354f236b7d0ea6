#include "lib/byte_source.hpp"

#include <algorithm>
#include <string>

#include "lib/internal_fault.hpp"

namespace vantrel {

IoStatus read_exact(ByteSource& source, std::span<std::uint8_t> buffer) {
    while (!buffer.empty()) {
        auto count = source.read(buffer);
        if (!count)
            return std::move(count).error();
        if (*count == 0)
            return IoError::raised(std::string(end_of_data_message));
        if (*count > buffer.size())
            internal_fault("byte source read past its buffer");
        buffer = buffer.subspan(*count);
    }
    return {};
}

IoResult<std::size_t> MemorySource::read(std::span<std::uint8_t> buffer) {
    const std::size_t count = std::min(buffer.size(), rest_.size());
    std::copy_n(rest_.begin(), count, buffer.begin());
    rest_ = rest_.subspan(count);
    return count;
}

}  // namespace vantrel
