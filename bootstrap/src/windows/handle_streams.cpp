#include "windows/handle_streams.hpp"

#include <algorithm>

#include "windows/system_error.hpp"

namespace vantrel {
namespace {

// ReadFile and WriteFile count in DWORDs; larger buffers go in pieces.
constexpr std::size_t largest_transfer = 1u << 30;

}  // namespace

IoResult<std::size_t> HandleSource::read(std::span<std::uint8_t> buffer) {
    const auto wanted = static_cast<DWORD>(std::min(buffer.size(), largest_transfer));
    DWORD count = 0;
    if (!ReadFile(file_, buffer.data(), wanted, &count, nullptr))
        return last_os_error();
    return std::size_t{count};
}

IoStatus HandleSink::write(ByteView bytes) {
    while (!bytes.empty()) {
        const auto wanted = static_cast<DWORD>(std::min(bytes.size(), largest_transfer));
        DWORD count = 0;
        if (!WriteFile(file_, bytes.data(), wanted, &count, nullptr))
            return last_os_error();
        if (count == 0)
            return os_error(ERROR_WRITE_FAULT);
        bytes = bytes.subspan(count);
    }
    return {};
}

}  // namespace vantrel
