#pragma once

#include <archive.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "lib/byte_source.hpp"
#include "lib/bytes.hpp"
#include "lib/result.hpp"

namespace vantrel {

// An entry of a tar archive, with GNU long-name and pax records folded in.
struct TarEntry {
    std::string name;           // raw bytes; empty when its header blocks are not at hand
    bool regular_file = false;  // type flag "0" or NUL, and no link
    std::uint64_t size = 0;     // declared
};

// Reads a tar archive (ustar, pax or GNU) with libarchive from at most `limit`
// bytes of a source; past the limit the archive reader sees the end of the data.
// Failures carry the archive reader's or the source's own text.
class TarReader {
  public:
    // The source must outlive the reader.
    TarReader(ByteSource& source, std::uint64_t limit);
    ~TarReader();
    TarReader(const TarReader&) = delete;
    TarReader& operator=(const TarReader&) = delete;

    // The next entry, or nothing at the end of the archive.
    IoResult<std::optional<TarEntry>> next_entry();

    // Writes the data of the entry just read to out, which has its declared size.
    // False when the data is not one run of exactly that size, as a sparse entry can
    // make it.
    IoResult<bool> read_data(std::span<std::uint8_t> out);

    // After the end of the archive: the rest of the source, starting right after
    // what the archive reader used and no longer held to the limit.
    IoResult<std::size_t> read_after_archive(std::span<std::uint8_t> buffer);

  private:
    struct ArchiveFree {
        void operator()(archive* reader) const;
    };
    // One read-ahead block handed to libarchive, at its offset in the source.
    struct Block {
        Bytes bytes;
        std::uint64_t start = 0;
        std::size_t size = 0;
    };

    static la_ssize_t deliver(archive* reader, void* self, const void** buffer);
    la_ssize_t deliver_next(const void** buffer);
    std::size_t fill(Block& block);
    IoStatus open();
    IoError archive_failure() const;
    std::uint64_t consumed() const;
    bool copy_delivered(std::uint64_t position, std::span<std::uint8_t> out) const;
    // The bytes delivered from position on, when they are still held.
    std::optional<Bytes> held_from(std::uint64_t position) const;
    std::uint64_t after_end_marker(std::uint64_t header_start) const;
    bool last_header_is_regular_file() const;

    ByteSource& source_;
    std::uint64_t limit_;
    std::unique_ptr<archive, ArchiveFree> archive_;
    bool opened_ = false;
    bool first_block_pending_ = false;
    bool at_end_ = false;
    // The two latest blocks: libarchive may still hold bytes of both unused.
    std::array<Block, 2> blocks_;
    std::size_t latest_ = 0;
    std::uint64_t delivered_ = 0;
    bool source_ended_ = false;
    std::optional<IoError> source_failure_;  // met after the bytes delivered so far
    bool source_failure_reported_ = false;   // to libarchive
    std::uint64_t declared_size_ = 0;
    std::uint64_t after_archive_ = 0;  // at the end: next source offset to give back
    Bytes* recording_ = nullptr;       // gets each block delivered while it is set
};

}  // namespace vantrel
