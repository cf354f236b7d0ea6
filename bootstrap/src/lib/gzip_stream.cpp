#include "lib/gzip_stream.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>

namespace vantrel {
namespace {

constexpr std::string_view invalid_header = "invalid gzip header";
constexpr std::string_view corrupt_deflate = "corrupt deflate stream";
constexpr std::string_view checksum_mismatch =
    "corrupt gzip stream does not have a matching checksum";
constexpr std::string_view length_mismatch = "corrupt gzip stream does not have a matching length";
constexpr std::string_view ends_early = "unexpected end of gzip stream";

// zlib's texts for the two trailer checks of a gzip member.
constexpr std::string_view zlib_crc_failure = "incorrect data check";
constexpr std::string_view zlib_length_failure = "incorrect length check";

// The largest window, plus 16: a gzip wrapper only, neither zlib nor raw deflate.
constexpr int gzip_window_bits = 16 + MAX_WBITS;

constexpr std::size_t zlib_chunk = std::numeric_limits<uInt>::max();

IoError raised(std::string_view text) {
    return IoError::raised(std::string(text));
}

}  // namespace

GzipStream::GzipStream(ByteView compressed) : unread_(compressed) {
    if (const int code = inflateInit2(&stream_, gzip_window_bits); code != Z_OK) {
        failure_ = raised(zError(code));
        return;
    }
    initialised_ = true;
    // Only to learn when the header has been read in full; no field is kept.
    inflateGetHeader(&stream_, &header_);
}

GzipStream::~GzipStream() {
    if (initialised_)
        inflateEnd(&stream_);
}

IoResult<std::size_t> GzipStream::read(std::span<std::uint8_t> buffer) {
    if (failure_)
        return *failure_;
    std::size_t produced = 0;
    while (!ended_ && produced < buffer.size()) {
        if (stream_.avail_in == 0 && !unread_.empty()) {
            const std::size_t count = std::min(unread_.size(), zlib_chunk);
            stream_.next_in = const_cast<Bytef*>(unread_.data());
            stream_.avail_in = static_cast<uInt>(count);
            unread_ = unread_.subspan(count);
        }
        const uInt room = static_cast<uInt>(std::min(buffer.size() - produced, zlib_chunk));
        stream_.next_out = buffer.data() + produced;
        stream_.avail_out = room;
        const int code = inflate(&stream_, Z_NO_FLUSH);
        produced += room - stream_.avail_out;
        if (code == Z_STREAM_END) {
            ended_ = true;
        } else if (code != Z_OK) {
            failure_ = failure_of(code);
            break;
        }
    }
    if (produced == 0 && failure_)
        return *failure_;
    return produced;
}

IoError GzipStream::failure_of(int code) const {
    // zlib marks the header done (1) once it has read all of it.
    const bool in_header = header_.done != 1;
    switch (code) {
        case Z_BUF_ERROR:  // no progress: all input is used up
            return raised(in_header ? invalid_header : ends_early);
        case Z_DATA_ERROR: {
            if (in_header)
                return raised(invalid_header);
            const std::string_view message = stream_.msg ? stream_.msg : "";
            if (message == zlib_crc_failure)
                return raised(checksum_mismatch);
            if (message == zlib_length_failure)
                return raised(length_mismatch);
            return raised(corrupt_deflate);
        }
        default:
            return raised(stream_.msg ? stream_.msg : zError(code));
    }
}

}  // namespace vantrel
