#include "lib/tar_reader.hpp"

#include <archive_entry.h>

#include <algorithm>
#include <string_view>

#include "lib/internal_fault.hpp"
#include "lib/tar_entry_name.hpp"
#include "lib/tar_format.hpp"

namespace vantrel {
namespace {

// Bytes handed to libarchive per read; it keeps no more than the latest two.
constexpr std::size_t read_ahead_size = 65536;

using tar_format::block_size;
using tar_format::checksum_field;
using tar_format::type_flag_offset;

// For the rare failure libarchive gives no text for.
constexpr std::string_view unreadable_archive = "unreadable tar archive";
// libarchive's error number for failures without an errno (not in its public header).
constexpr int miscellaneous_error = -1;

using Header = std::array<std::uint8_t, block_size>;

bool is_octal_digit(std::uint8_t c) {
    return c >= '0' && c <= '7';
}

// Whether a block is a tar header by its checksum field: octal digits between
// blanks or NULs, matching the sum of the block's bytes (the field itself counted
// as blanks) taken as unsigned or, as some old writers did, as signed bytes.
bool checksum_matches(const Header& header) {
    const auto field = std::span(header).subspan(checksum_field.offset, checksum_field.width);
    if (!std::all_of(field.begin(), field.end(),
                     [](std::uint8_t c) { return c == ' ' || c == 0 || is_octal_digit(c); })) {
        return false;
    }
    const auto digits = std::find_if(field.begin(), field.end(), is_octal_digit);
    long long stored = 0;
    for (auto c = digits; c != field.end() && is_octal_digit(*c); ++c)
        stored = stored * 8 + (*c - '0');

    long long unsigned_sum = 0;
    long long signed_sum = 0;
    for (std::size_t i = 0; i < block_size; ++i) {
        const bool in_field =
            i >= checksum_field.offset && i < checksum_field.offset + checksum_field.width;
        const std::uint8_t byte = in_field ? ' ' : header[i];
        unsigned_sum += byte;
        signed_sum += static_cast<std::int8_t>(byte);
    }
    return stored == unsigned_sum || stored == signed_sum;
}

}  // namespace

void TarReader::ArchiveFree::operator()(archive* reader) const {
    archive_read_free(reader);
}

TarReader::TarReader(ByteSource& source, std::uint64_t limit) : source_(source), limit_(limit) {}

TarReader::~TarReader() = default;

IoResult<std::optional<TarEntry>> TarReader::next_entry() {
    if (!opened_) {
        opened_ = true;
        const std::size_t first = fill(blocks_[0]);
        if (first == 0) {
            if (source_failure_)
                return *source_failure_;
            // No bytes at all is an archive without entries; libarchive's tar
            // reader would not recognise it as tar.
            at_end_ = true;
            after_archive_ = 0;
            return std::optional<TarEntry>();
        }
        first_block_pending_ = true;
        if (auto opened = open(); !opened)
            return std::move(opened).error();
    }
    if (at_end_)
        return std::optional<TarEntry>();

    const std::uint64_t header_start = consumed();
    // Every byte from here to the entry's header is kept: libarchive gives the name
    // only up to its first NUL.
    std::optional<Bytes> blocks = held_from(header_start);
    recording_ = blocks ? &*blocks : nullptr;
    archive_entry* entry = nullptr;
    const int code = archive_read_next_header(archive_.get(), &entry);
    recording_ = nullptr;
    if (code == ARCHIVE_EOF) {
        at_end_ = true;
        after_archive_ = after_end_marker(header_start);
        return std::optional<TarEntry>();
    }
    // A warning (a name the locale cannot show, for one) still gives an entry.
    if (code != ARCHIVE_OK && code != ARCHIVE_WARN)
        return archive_failure();

    TarEntry found;
    const std::uint64_t used = consumed() - header_start;
    if (blocks && blocks->size() >= used) {
        found.name =
            tar_entry_name(ByteView(*blocks).first(static_cast<std::size_t>(used))).value_or("");
    }
    found.size = static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0));
    // libarchive files contiguous, sparse and unknown types as regular files too:
    // the type flag itself decides.
    found.regular_file = archive_entry_filetype(entry) == AE_IFREG &&
                         archive_entry_hardlink(entry) == nullptr &&
                         archive_entry_symlink(entry) == nullptr && last_header_is_regular_file();
    declared_size_ = found.size;
    return std::optional<TarEntry>(std::move(found));
}

IoResult<bool> TarReader::read_data(std::span<std::uint8_t> out) {
    if (out.size() != declared_size_)
        internal_fault("tar entry read into a buffer not of its declared size");
    std::uint64_t received = 0;
    for (;;) {
        const void* data = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int code = archive_read_data_block(archive_.get(), &data, &size, &offset);
        if (code == ARCHIVE_EOF)
            return received == declared_size_;
        if (code != ARCHIVE_OK)
            return archive_failure();
        if (offset < 0 || static_cast<std::uint64_t>(offset) != received ||
            size > declared_size_ - received) {
            return false;
        }
        std::copy_n(static_cast<const std::uint8_t*>(data), size,
                    out.begin() + static_cast<std::ptrdiff_t>(received));
        received += size;
    }
}

IoResult<std::size_t> TarReader::read_after_archive(std::span<std::uint8_t> buffer) {
    if (!at_end_)
        internal_fault("tar data read as trailing bytes before the archive's end");
    // libarchive has read ahead: what it has not used yet comes first.
    if (after_archive_ < delivered_) {
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(buffer.size(), delivered_ - after_archive_));
        if (!copy_delivered(after_archive_, buffer.first(count)))
            internal_fault("unused tar read-ahead is no longer held");
        after_archive_ += count;
        return count;
    }
    if (source_failure_)
        return *source_failure_;
    if (source_ended_)
        return std::size_t{0};
    return source_.read(buffer);
}

la_ssize_t TarReader::deliver(archive* /*reader*/, void* self, const void** buffer) {
    return static_cast<TarReader*>(self)->deliver_next(buffer);
}

la_ssize_t TarReader::deliver_next(const void** buffer) {
    if (first_block_pending_) {
        first_block_pending_ = false;
    } else {
        // The older block is free: libarchive only needs the latest one kept.
        Block& next = blocks_[1 - latest_];
        if (fill(next) == 0) {
            if (!source_failure_)
                return 0;
            source_failure_reported_ = true;
            archive_set_error(archive_.get(), miscellaneous_error, "%s",
                              source_failure_->text().c_str());
            return ARCHIVE_FATAL;
        }
        latest_ = 1 - latest_;
    }
    const Block& block = blocks_[latest_];
    delivered_ = block.start + block.size;
    if (recording_)
        recording_->insert(recording_->end(), block.bytes.begin(),
                           block.bytes.begin() + static_cast<std::ptrdiff_t>(block.size));
    *buffer = block.bytes.data();
    return static_cast<la_ssize_t>(block.size);
}

std::size_t TarReader::fill(Block& block) {
    const std::uint64_t allowed = std::min<std::uint64_t>(read_ahead_size, limit_ - delivered_);
    if (block.bytes.empty())
        block.bytes.resize(read_ahead_size);
    std::size_t size = 0;
    while (size < allowed && !source_ended_ && !source_failure_) {
        auto count = source_.read(std::span(block.bytes).subspan(size, allowed - size));
        if (!count) {
            source_failure_ = std::move(count).error();
        } else if (*count == 0) {
            source_ended_ = true;
        } else {
            size += *count;
        }
    }
    if (size > 0) {
        block.start = delivered_;
        block.size = size;
    }
    return size;
}

IoStatus TarReader::open() {
    archive_.reset(archive_read_new());
    if (!archive_)
        internal_fault("no memory for a tar reader");
    archive* reader = archive_.get();
    if (archive_read_support_format_tar(reader) != ARCHIVE_OK ||
        archive_read_open(reader, this, nullptr, &TarReader::deliver, nullptr) != ARCHIVE_OK) {
        return archive_failure();
    }
    return {};
}

IoError TarReader::archive_failure() const {
    // Once the source has failed, whatever libarchive says follows from that.
    if (source_failure_reported_)
        return *source_failure_;
    const char* text = archive_ ? archive_error_string(archive_.get()) : nullptr;
    return IoError::raised(std::string(text && *text ? text : unreadable_archive));
}

std::uint64_t TarReader::consumed() const {
    return static_cast<std::uint64_t>(archive_filter_bytes(archive_.get(), -1));
}

bool TarReader::copy_delivered(std::uint64_t position, std::span<std::uint8_t> out) const {
    std::size_t copied = 0;
    for (const Block* block : {&blocks_[1 - latest_], &blocks_[latest_]}) {
        const std::uint64_t at = position + copied;
        if (copied == out.size() || block->size == 0 || at < block->start ||
            at >= block->start + block->size) {
            continue;
        }
        const auto offset = static_cast<std::size_t>(at - block->start);
        const std::size_t count = std::min(out.size() - copied, block->size - offset);
        std::copy_n(block->bytes.begin() + static_cast<std::ptrdiff_t>(offset), count,
                    out.begin() + static_cast<std::ptrdiff_t>(copied));
        copied += count;
    }
    return copied == out.size();
}

std::optional<Bytes> TarReader::held_from(std::uint64_t position) const {
    Bytes held(static_cast<std::size_t>(delivered_ - position));
    if (!copy_delivered(position, held))
        return std::nullopt;
    return held;
}

// The end of the archive is its first all-zero block. libarchive also uses up a
// second one when there is one; that block belongs to what follows the end.
std::uint64_t TarReader::after_end_marker(std::uint64_t header_start) const {
    const std::uint64_t end = consumed();
    if (end < header_start + 2 * block_size)
        return end;
    std::array<std::uint8_t, 2 * block_size> last{};
    if (!copy_delivered(end - last.size(), last))
        internal_fault("tar end marker is no longer held");
    const bool two_zero_blocks =
        std::all_of(last.begin(), last.end(), [](std::uint8_t byte) { return byte == 0; });
    return two_zero_blocks ? end - block_size : end;
}

// libarchive has just used the entry's last header block (after any long-name
// and pax records): the 512 bytes before the position it has reached. Only an
// old GNU sparse map can come after it there, and map blocks fail the checksum.
bool TarReader::last_header_is_regular_file() const {
    const std::uint64_t end = consumed();
    Header header{};
    if (end < block_size || !copy_delivered(end - block_size, header))
        internal_fault("tar header is no longer held");
    const std::uint8_t type = header[type_flag_offset];
    return (type == '0' || type == 0) && checksum_matches(header);
}

}  // namespace vantrel
