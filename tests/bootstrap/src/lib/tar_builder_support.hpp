#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/bytes.hpp"

namespace vantrel::testing {

// The fields of one tar header block that tests vary; the others are written as
// tar writes them for a plain file.
struct TarHeader {
    std::string name{};  // at most 100 bytes
    char type = '0';
    std::uint64_t size = 0;  // the declared size
    std::string link_target{};
    std::string prefix{};  // ustar prefix, joined to the name with "/"
    bool gnu = false;      // GNU magic "ustar  " instead of POSIX "ustar" "00"
};

// One 512-byte header block with a correct checksum.
Bytes tar_header(const TarHeader& header);

// For fields TarHeader does not cover: a number in a header block, as width - 1
// octal digits and a NUL, and the checksum after such a change.
void put_tar_number(Bytes& block, std::size_t offset, std::size_t width, std::uint64_t value);
void set_tar_checksum(Bytes& block);

// Builds tar archives block by block, broken ones too.
class TarBuilder {
  public:
    // A header, then the data padded to whole blocks; the data need not match the
    // declared size.
    TarBuilder& entry(const TarHeader& header, ByteView data = {});
    TarBuilder& file(std::string_view name, ByteView content);
    TarBuilder& directory(std::string_view name);
    TarBuilder& hard_link(std::string_view name, std::string_view target);
    TarBuilder& symlink(std::string_view name, std::string_view target);
    // A pax extended header ('x'; 'g' for a global one) with these key/value records.
    TarBuilder& pax(const std::vector<std::pair<std::string, std::string>>& records,
                    char type = 'x');
    // A GNU long-name record ('L'); the stored name ends with a NUL.
    TarBuilder& gnu_long_name(std::string_view name);
    // Bytes as they are.
    TarBuilder& raw(ByteView bytes);

    // The blocks so far, without an end-of-archive marker.
    const Bytes& blocks() const { return out_; }
    // The archive: end_blocks zero blocks, then zeros up to a multiple of
    // record_size (0: no padding).
    Bytes finish(std::size_t end_blocks = 2, std::size_t record_size = 10240) const;

  private:
    Bytes out_;
};

// The text of one pax record, "<length> <key>=<value>\n".
std::string pax_record(std::string_view key, std::string_view value);

struct GzipOptions {
    int level = 6;
    std::string file_name{};  // FNAME
    Bytes extra{};            // FEXTRA
    std::string comment{};    // FCOMMENT
    bool header_crc = false;  // FHCRC
    // The deflate data stops after the bytes with an invalid block instead of
    // its end; the trailer still follows.
    bool corrupt_end = false;
};

// One gzip member around data, made with zlib: header, deflate data, CRC-32, length.
Bytes gzip(ByteView data, const GzipOptions& options = {});

// Where gzip puts its header and trailer fields.
inline constexpr std::size_t gzip_method_offset = 2;
inline constexpr std::size_t gzip_flags_offset = 3;
inline constexpr std::size_t gzip_header_size = 10;  // without optional fields
inline constexpr std::size_t gzip_trailer_size = 8;  // CRC-32, then length

// An image of size bytes (at least 70) with the MS-DOS and PE signature fields
// for the machine; the rest is a repeating pattern.
Bytes windows_image(std::uint16_t machine = 0x8664, std::size_t size = 256);

// The package of one launcher as the release tooling builds it: one ustar entry
// "vantrel-launcher.exe", the end marker and record padding, gzip around it.
Bytes launcher_package(ByteView launcher);

}  // namespace vantrel::testing
