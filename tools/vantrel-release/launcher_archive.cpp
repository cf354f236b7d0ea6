#include "vantrel-release/launcher_archive.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <string_view>

#include "lib/install_names.hpp"
#include "lib/release_limits.hpp"
#include "lib/tar_format.hpp"

namespace vantrel::release_tool {
namespace {

using namespace tar_format;

constexpr std::size_t record_size = 10240;  // what tar tools pad an archive to
constexpr std::size_t end_marker_size = 2 * block_size;
constexpr int compression_level = 9;
constexpr int gzip_window_bits = 15 + 16;  // 32 KiB window, gzip wrapper
constexpr int memory_level = 8;

using Block = std::array<std::uint8_t, block_size>;

constexpr unsigned launcher_mode = 0644;

std::size_t round_up(std::size_t size, std::size_t unit) {
    return (size + unit - 1) / unit * unit;
}

void put_text(Block& header, Field field, std::string_view text) {
    std::copy_n(text.begin(), std::min(text.size(), field.width), header.begin() + field.offset);
}

// Octal digits filling the field but for its closing NUL.
void put_octal(Block& header, Field field, std::uint64_t value) {
    for (std::size_t i = field.width - 1; i-- > 0;) {
        header[field.offset + i] = static_cast<std::uint8_t>('0' + (value & 7));
        value >>= 3;
    }
    header[field.offset + field.width - 1] = 0;
}

Block launcher_header(std::size_t size) {
    Block header{};
    put_text(header, name_field, launcher_file_name);
    put_octal(header, mode_field, launcher_mode);
    put_octal(header, uid_field, 0);
    put_octal(header, gid_field, 0);
    put_octal(header, size_field, size);
    put_octal(header, mtime_field, 0);
    header[type_flag_offset] = '0';
    put_text(header, magic_field, posix_magic);
    put_text(header, version_field, "00");
    put_octal(header, devmajor_field, 0);
    put_octal(header, devminor_field, 0);

    // The checksum is the byte sum with its own field counted as spaces, written as
    // six octal digits, a NUL and a space.
    std::fill_n(header.begin() + checksum_field.offset, checksum_field.width, ' ');
    unsigned sum = 0;
    for (const std::uint8_t byte : header)
        sum += byte;
    std::array<char, 8> digits{};
    std::snprintf(digits.data(), digits.size(), "%06o", sum);
    std::copy_n(digits.begin(), 6, header.begin() + checksum_field.offset);
    header[checksum_field.offset + 6] = 0;
    header[checksum_field.offset + 7] = ' ';
    return header;
}

// zlib's one-shot streaming over a buffer sized by deflateBound, so it never runs
// out of room.
class GzipWriter {
  public:
    explicit GzipWriter(std::size_t input_size) {
        ready_ = deflateInit2(&stream_, compression_level, Z_DEFLATED, gzip_window_bits,
                              memory_level, Z_DEFAULT_STRATEGY) == Z_OK;
        if (ready_) {
            out_.resize(deflateBound(&stream_, input_size));
            stream_.next_out = out_.data();
            stream_.avail_out = static_cast<uInt>(out_.size());
        }
    }
    ~GzipWriter() {
        if (ready_)
            deflateEnd(&stream_);
    }
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;

    bool ready() const { return ready_; }

    bool write(ByteView bytes) {
        if (bytes.empty())
            return true;  // zlib reports a pass without input as an error
        return pass(bytes, Z_NO_FLUSH) == Z_OK;
    }

    bool finish_with(ByteView bytes) { return pass(bytes, Z_FINISH) == Z_STREAM_END; }

    Bytes take_output() && {
        out_.resize(stream_.total_out);
        return std::move(out_);
    }

  private:
    int pass(ByteView bytes, int flush) {
        // zlib takes const-less input pointers but never writes through them.
        stream_.next_in = const_cast<Bytef*>(bytes.data());
        stream_.avail_in = static_cast<uInt>(bytes.size());
        const int status = deflate(&stream_, flush);
        return stream_.avail_in == 0 ? status : Z_BUF_ERROR;
    }

    z_stream stream_{};
    bool ready_ = false;
    Bytes out_;
};

}  // namespace

Outcome<Bytes> pack_launcher(ByteView launcher) {
    if (launcher.size() > launcher_size_limit)
        return Failure{"the launcher is larger than the setup accepts (" +
                       std::to_string(launcher_size_limit) + " bytes)"};
    const std::size_t data_end = block_size + round_up(launcher.size(), block_size);
    const std::size_t archive_size = round_up(data_end + end_marker_size, record_size);
    static_assert(launcher_size_limit + record_size * 2 < UINT_MAX);

    GzipWriter gzip(archive_size);
    if (!gzip.ready())
        return Failure{"the compressor could not be set up"};
    const Block header = launcher_header(launcher.size());
    const Bytes padding(archive_size - block_size - launcher.size(), 0);
    if (!gzip.write(header) || !gzip.write(launcher) || !gzip.finish_with(padding)) {
        return Failure{"the launcher could not be compressed"};
    }
    return std::move(gzip).take_output();
}

}  // namespace vantrel::release_tool
