#include "lib/standard_streams.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <cerrno>
#endif

namespace vantrel {
namespace {

#ifdef _WIN32
using StreamId = DWORD;
constexpr StreamId output_stream = STD_OUTPUT_HANDLE;
constexpr StreamId error_stream = STD_ERROR_HANDLE;

bool write_all(StreamId stream, std::string_view bytes) {
    HANDLE handle = GetStdHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : DWORD(bytes.size());
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}
#else
using StreamId = int;
constexpr StreamId output_stream = STDOUT_FILENO;
constexpr StreamId error_stream = STDERR_FILENO;

bool write_all(StreamId stream, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(stream, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}
#endif

}  // namespace

bool write_standard_output(std::string_view bytes) {
    return write_all(output_stream, bytes);
}
bool write_standard_error(std::string_view bytes) {
    return write_all(error_stream, bytes);
}

}  // namespace vantrel
