#include "lib/launcher_package.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/gzip_stream.hpp"
#include "lib/release_limits.hpp"
#include "lib/tar_reader.hpp"
#include "lib/whole_inflate.hpp"

namespace vantrel {
namespace {

// Decompressed bytes the tar reader may see: the largest launcher and 1 MiB
// for its headers.
constexpr std::uint64_t tar_stream_limit = 68157440;
// Decompressed bytes allowed after the end of the archive, all of them zero.
constexpr std::size_t archive_tail_limit = 1048576;
// The most decompressed bytes that can make a valid package.
constexpr std::size_t inflated_limit = tar_stream_limit + archive_tail_limit;

constexpr std::string_view no_launcher = "Package has no launcher.";
constexpr std::string_view invalid_entry = "Invalid launcher archive entry (name, type, or size).";
constexpr std::string_view not_one_launcher = "Package must contain exactly one launcher.";
constexpr std::string_view data_after_archive = "Unexpected data after launcher archive.";
constexpr std::string_view not_executable = "Launcher is not a Windows x86_64 executable.";

constexpr std::size_t tail_chunk_size = 65536;

constexpr std::size_t smallest_image = 64;
constexpr std::size_t pe_offset_field = 60;
constexpr std::array<std::uint8_t, 6> pe_signature_x86_64 = {'P', 'E', 0, 0, 0x64, 0x86};

Error extraction_error(std::string_view text) {
    return Error::from_text(Stage::Extraction, text);
}

Error extraction_error(const IoError& failure) {
    return Error::from_io(Stage::Extraction, failure);
}

bool is_launcher_entry(const TarEntry& entry) {
    return entry.name == launcher_file_name && entry.regular_file &&
           entry.size <= launcher_size_limit;
}

// The end-of-archive marker's rest and the padding: at most 1 MiB, all zero. The
// whole rest is read first, so that a bad gzip trailer is reported as such.
Status check_archive_tail(TarReader& tar) {
    Bytes chunk(tail_chunk_size);
    std::size_t total = 0;
    bool all_zero = true;
    for (;;) {
        auto count = tar.read_after_archive(chunk);
        if (!count)
            return extraction_error(count.error());
        if (*count == 0)
            break;
        total += *count;
        if (total > archive_tail_limit)
            return extraction_error(IoError::raised(std::string(size_limit_message)));
        all_zero = all_zero && std::all_of(chunk.begin(), chunk.begin() + *count,
                                           [](std::uint8_t byte) { return byte == 0; });
    }
    if (!all_zero)
        return extraction_error(data_after_archive);
    return {};
}

// The launcher from the decompressed stream in source. When `inflated` holds that
// stream whole (source reads it), the launcher's bytes move to its front in place of
// a second buffer: each byte is written only after the tar reader has taken a copy
// of the stream beyond it, and nothing reads the stream's front again.
Result<Bytes> take_launcher(ByteSource& source, Bytes* inflated) {
    TarReader tar(source, tar_stream_limit);

    auto first = tar.next_entry();
    if (!first)
        return extraction_error(first.error());
    if (!*first)
        return extraction_error(no_launcher);
    if (!is_launcher_entry(**first))
        return extraction_error(invalid_entry);

    const auto size = static_cast<std::size_t>((*first)->size);
    Bytes own;
    const bool in_place = inflated && inflated->size() >= size;
    if (!in_place)
        own.resize(size);
    Bytes& launcher = in_place ? *inflated : own;
    auto whole = tar.read_data(std::span(launcher).first(size));
    if (!whole)
        return extraction_error(whole.error());
    if (!*whole)
        return extraction_error(invalid_entry);

    auto second = tar.next_entry();
    if (!second || *second)
        return extraction_error(not_one_launcher);

    if (auto tail = check_archive_tail(tar); !tail)
        return std::move(tail).error();
    launcher.resize(size);
    if (auto image = check_executable(launcher); !image)
        return std::move(image).error();
    return std::move(launcher);
}

}  // namespace

Result<Bytes> extract_launcher(ByteView package) {
    if (std::optional<Bytes> inflated = inflate_whole(package, inflated_limit)) {
        MemorySource source(*inflated);
        return take_launcher(source, &*inflated);
    }
    GzipStream gzip(package);
    return take_launcher(gzip, nullptr);
}

Status check_executable(ByteView executable) {
    if (executable.size() < smallest_image || executable[0] != 'M' || executable[1] != 'Z')
        return extraction_error(not_executable);
    std::uint64_t pe_offset = 0;
    for (std::size_t i = 4; i-- > 0;)
        pe_offset = (pe_offset << 8) | executable[pe_offset_field + i];
    if (pe_offset + pe_signature_x86_64.size() > executable.size())
        return extraction_error(not_executable);
    const auto signature =
        executable.subspan(static_cast<std::size_t>(pe_offset), pe_signature_x86_64.size());
    if (!std::equal(signature.begin(), signature.end(), pe_signature_x86_64.begin()))
        return extraction_error(not_executable);
    return {};
}

}  // namespace vantrel
