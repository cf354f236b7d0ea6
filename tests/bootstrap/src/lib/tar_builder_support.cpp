#include "tar_builder_support.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "lib/install_names.hpp"

namespace vantrel::testing {
namespace {

constexpr std::size_t block_size = 512;
constexpr std::uint32_t fixed_mtime = 1700000000;

void put_text(Bytes& block, std::size_t offset, std::size_t width, std::string_view text) {
    if (text.size() > width)
        ADD_FAILURE() << "tar field too long: " << text;
    std::copy_n(text.begin(), std::min(text.size(), width), block.begin() + offset);
}

void pad_to(Bytes& out, std::size_t multiple) {
    if (multiple != 0)
        out.resize((out.size() + multiple - 1) / multiple * multiple, 0);
}

void put_le32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes raw_deflate(ByteView data, int level, bool corrupt_end) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        ADD_FAILURE() << "deflateInit2 failed";
        return {};
    }
    Bytes out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16);  // + a flush marker
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int code = deflate(&stream, corrupt_end ? Z_SYNC_FLUSH : Z_FINISH);
    if (code != (corrupt_end ? Z_OK : Z_STREAM_END))
        ADD_FAILURE() << "deflate did not finish";
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (corrupt_end)
        out.push_back(0x07);  // last block, of the reserved type 3
    return out;
}

}  // namespace

void put_tar_number(Bytes& block, std::size_t offset, std::size_t width, std::uint64_t value) {
    std::string digits(width - 1, '0');
    for (std::size_t i = digits.size(); i-- > 0 && value != 0; value >>= 3)
        digits[i] = static_cast<char>('0' + (value & 7));
    if (value != 0)
        ADD_FAILURE() << "tar number does not fit its field";
    put_text(block, offset, width, digits);
}

void set_tar_checksum(Bytes& block) {
    std::fill_n(block.begin() + 148, 8, ' ');
    unsigned sum = 0;
    for (std::uint8_t byte : block)
        sum += byte;
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%06o", sum);
    std::copy_n(checksum, 7, block.begin() + 148);  // six digits and a NUL; the blank stays
}

Bytes tar_header(const TarHeader& header) {
    Bytes block(block_size, 0);
    put_text(block, 0, 100, header.name);
    put_tar_number(block, 100, 8, header.type == '5' ? 0755 : 0644);
    put_tar_number(block, 108, 8, 1000);
    put_tar_number(block, 116, 8, 1000);
    put_tar_number(block, 124, 12, header.size);
    put_tar_number(block, 136, 12, fixed_mtime);
    block[156] = static_cast<std::uint8_t>(header.type);
    put_text(block, 157, 100, header.link_target);
    put_text(block, 257, 8,
             std::string_view(header.gnu ? "ustar  \0"
                                         : "ustar\0"
                                           "00",
                              8));
    put_text(block, 265, 32, "vantrel");
    put_text(block, 297, 32, "vantrel");
    put_text(block, 345, 155, header.prefix);
    set_tar_checksum(block);
    return block;
}

TarBuilder& TarBuilder::entry(const TarHeader& header, ByteView data) {
    const Bytes block = tar_header(header);
    out_.insert(out_.end(), block.begin(), block.end());
    out_.insert(out_.end(), data.begin(), data.end());
    pad_to(out_, block_size);
    return *this;
}

TarBuilder& TarBuilder::file(std::string_view name, ByteView content) {
    return entry({.name = std::string(name), .size = content.size()}, content);
}

TarBuilder& TarBuilder::directory(std::string_view name) {
    return entry({.name = std::string(name), .type = '5'});
}

TarBuilder& TarBuilder::hard_link(std::string_view name, std::string_view target) {
    return entry({.name = std::string(name), .type = '1', .link_target = std::string(target)});
}

TarBuilder& TarBuilder::symlink(std::string_view name, std::string_view target) {
    return entry({.name = std::string(name), .type = '2', .link_target = std::string(target)});
}

TarBuilder& TarBuilder::pax(const std::vector<std::pair<std::string, std::string>>& records,
                            char type) {
    std::string body;
    for (const auto& [key, value] : records)
        body += pax_record(key, value);
    return entry({.name = "PaxHeaders/entry", .type = type, .size = body.size()}, as_bytes(body));
}

TarBuilder& TarBuilder::gnu_long_name(std::string_view name) {
    std::string body(name);
    body.push_back('\0');
    return entry({.name = "././@LongLink", .type = 'L', .size = body.size(), .gnu = true},
                 as_bytes(body));
}

TarBuilder& TarBuilder::raw(ByteView bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes TarBuilder::finish(std::size_t end_blocks, std::size_t record_size) const {
    Bytes archive = out_;
    archive.resize(archive.size() + end_blocks * block_size, 0);
    pad_to(archive, record_size);
    return archive;
}

std::string pax_record(std::string_view key, std::string_view value) {
    const std::size_t rest = key.size() + value.size() + 3;  // blank, "=", line feed
    std::size_t length = rest + 1;
    while (std::to_string(length).size() + rest != length)
        length = std::to_string(length).size() + rest;
    return std::to_string(length) + " " + std::string(key) + "=" + std::string(value) + "\n";
}

Bytes gzip(ByteView data, const GzipOptions& options) {
    std::uint8_t flags = 0;
    if (options.header_crc)
        flags |= 0x02;
    if (!options.extra.empty())
        flags |= 0x04;
    if (!options.file_name.empty())
        flags |= 0x08;
    if (!options.comment.empty())
        flags |= 0x10;
    Bytes out = {0x1f, 0x8b, 8, flags};
    put_le32(out, fixed_mtime);
    out.push_back(0);    // extra flags
    out.push_back(255);  // operating system: unknown
    if (!options.extra.empty()) {
        out.push_back(static_cast<std::uint8_t>(options.extra.size()));
        out.push_back(static_cast<std::uint8_t>(options.extra.size() >> 8));
        out.insert(out.end(), options.extra.begin(), options.extra.end());
    }
    for (const std::string* text : {&options.file_name, &options.comment}) {
        if (!text->empty()) {
            out.insert(out.end(), text->begin(), text->end());
            out.push_back(0);
        }
    }
    if (options.header_crc) {
        const uLong crc = crc32(0, out.data(), static_cast<uInt>(out.size()));
        out.push_back(static_cast<std::uint8_t>(crc));
        out.push_back(static_cast<std::uint8_t>(crc >> 8));
    }
    const Bytes deflated = raw_deflate(data, options.level, options.corrupt_end);
    out.insert(out.end(), deflated.begin(), deflated.end());
    put_le32(out,
             static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
    put_le32(out, static_cast<std::uint32_t>(data.size()));
    return out;
}

Bytes windows_image(std::uint16_t machine, std::size_t size) {
    constexpr std::uint32_t pe_offset = 64;
    if (size < pe_offset + 6) {
        ADD_FAILURE() << "an image needs at least 70 bytes";
        return {};
    }
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i % 251 + 1);
    image[0] = 'M';
    image[1] = 'Z';
    for (int i = 0; i < 4; ++i)
        image[60 + i] = static_cast<std::uint8_t>(pe_offset >> (8 * i));
    const std::uint8_t signature[] = {'P',
                                      'E',
                                      0,
                                      0,
                                      static_cast<std::uint8_t>(machine),
                                      static_cast<std::uint8_t>(machine >> 8)};
    std::copy(std::begin(signature), std::end(signature), image.begin() + pe_offset);
    return image;
}

Bytes launcher_package(ByteView launcher) {
    return gzip(TarBuilder().file(launcher_file_name, launcher).finish());
}

}  // namespace vantrel::testing
