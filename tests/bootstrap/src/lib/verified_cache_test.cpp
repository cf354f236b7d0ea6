#include "lib/verified_cache.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lib/release_limits.hpp"

namespace vantrel {
namespace {

constexpr std::string_view magic = "VLCACHE1";

Bytes text_bytes(std::string_view text) {
    const ByteView view = as_bytes(text);
    return Bytes(view.begin(), view.end());
}

Bytes length_field(std::uint32_t length) {
    return {std::uint8_t(length), std::uint8_t(length >> 8), std::uint8_t(length >> 16),
            std::uint8_t(length >> 24)};
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A cache file built by hand, independent of the writer.
Bytes cache_image(std::string_view head, const ReleaseFiles& files) {
    return concat({text_bytes(head), length_field(std::uint32_t(files.package.size())),
                   files.package, length_field(std::uint32_t(files.checksum.size())),
                   files.checksum, length_field(std::uint32_t(files.signature.size())),
                   files.signature, length_field(std::uint32_t(files.checksum_signature.size())),
                   files.checksum_signature});
}

ReleaseFiles sample_files() {
    return {text_bytes("package\x1f\x8b bytes"), text_bytes("abc123  vantrel-launcher.tar.gz\n"),
            text_bytes("untrusted comment: sig\n"), text_bytes("untrusted comment: sum sig\n")};
}

Bytes encoded(const ReleaseFiles& files) {
    Bytes out;
    MemorySink sink(out);
    const IoStatus written = write_verified_cache_contents(sink, files);
    EXPECT_TRUE(written) << (written ? "" : written.error().text());
    return out;
}

IoResult<ReleaseFiles> read_bytes(const Bytes& bytes) {
    MemorySource source(bytes);
    return read_verified_cache(source);
}

void expect_same_files(const ReleaseFiles& actual, const ReleaseFiles& expected) {
    EXPECT_EQ(actual.package, expected.package);
    EXPECT_EQ(actual.checksum, expected.checksum);
    EXPECT_EQ(actual.signature, expected.signature);
    EXPECT_EQ(actual.checksum_signature, expected.checksum_signature);
}

const std::string end_of_file(end_of_data_message);

TEST(VerifiedCacheReadTest, RefusesDamagedFilesWithTheirOwnText) {
    const Bytes valid = cache_image(magic, sample_files());
    const Bytes four_empty_lengths = concat({length_field(0), length_field(0), length_field(0)});
    struct Case {
        std::string_view name;
        Bytes bytes;
        std::string_view error;
    };
    const Case cases[] = {
        {"empty file", {}, end_of_file},
        {"inside the magic", text_bytes("VLCACHE"), end_of_file},
        {"magic only", text_bytes(magic), end_of_file},
        {"inside the first length", concat({text_bytes(magic), {0, 0}}), end_of_file},
        {"lower-case magic", cache_image("vlcache1", sample_files()), "Invalid cache"},
        {"magic checked before the end of file", text_bytes("VLCACHE2"), "Invalid cache"},
        {"first length one above the package limit",
         concat({text_bytes(magic), length_field(package_size_limit + 1)}), "Cache too large"},
        {"first length at the package limit needs its bytes",
         concat({text_bytes(magic), length_field(package_size_limit), Bytes(100, 7)}), end_of_file},
        {"first length at the 32-bit maximum",
         concat({text_bytes(magic), length_field(UINT32_MAX)}), "Cache too large"},
        {"second length one above the companion limit",
         concat({text_bytes(magic), length_field(0), length_field(companion_size_limit + 1)}),
         "Cache too large"},
        {"second length at the companion limit needs its bytes",
         concat({text_bytes(magic), length_field(0), length_field(companion_size_limit)}),
         end_of_file},
        {"third length above the companion limit",
         concat({text_bytes(magic), length_field(0), length_field(0),
                 length_field(companion_size_limit + 1)}),
         "Cache too large"},
        {"fourth length above the companion limit",
         concat({text_bytes(magic), four_empty_lengths, length_field(companion_size_limit + 1)}),
         "Cache too large"},
        {"inside the first record", Bytes(valid.begin(), valid.begin() + 14), end_of_file},
        {"fourth length missing",
         concat({text_bytes(magic), length_field(0), length_field(0), length_field(0)}),
         end_of_file},
        {"last byte of the fourth record missing", Bytes(valid.begin(), valid.end() - 1),
         end_of_file},
        {"one extra byte", concat({valid, {0}}), "Trailing cache data"},
        {"a second cache appended", concat({valid, valid}), "Trailing cache data"},
    };
    for (const Case& c : cases) {
        const auto read = read_bytes(c.bytes);
        ASSERT_FALSE(read) << c.name;
        EXPECT_EQ(read.error().text(), c.error) << c.name;
    }
}

TEST(VerifiedCacheReadTest, EveryOtherEighthByteIsInvalid) {
    const Bytes valid = cache_image(magic, sample_files());
    for (int byte = 0; byte < 256; ++byte) {
        if (byte == '1')
            continue;
        Bytes bytes = valid;
        bytes[7] = std::uint8_t(byte);
        const auto read = read_bytes(bytes);
        ASSERT_FALSE(read) << byte;
        EXPECT_EQ(read.error().text(), "Invalid cache") << byte;
    }
}

TEST(VerifiedCacheReadTest, AcceptsRecordsUpToTheirLimits) {
    struct Case {
        std::string_view name;
        ReleaseFiles files;
    };
    const Case cases[] = {
        {"sample", sample_files()},
        {"all records empty", {}},
        {"only the package", {text_bytes("p"), {}, {}, {}}},
        {"only the last record", {{}, {}, {}, text_bytes("last")}},
        {"companions at their limit",
         {{},
          Bytes(companion_size_limit, 1),
          Bytes(companion_size_limit, 2),
          Bytes(companion_size_limit, 3)}},
        {"package at its limit", {Bytes(package_size_limit, 0xA5), {}, {}, {}}},
    };
    for (const Case& c : cases) {
        const auto read = read_bytes(cache_image(magic, c.files));
        ASSERT_TRUE(read) << c.name << ": " << read.error().text();
        expect_same_files(*read, c.files);
    }
}

// Hands out the data a few bytes at a time and fails at a chosen read, as files and
// pipes may.
class ScriptedSource final : public ByteSource {
  public:
    ScriptedSource(Bytes bytes, std::size_t chunk, std::optional<int> failing_read)
        : bytes_(std::move(bytes)), chunk_(chunk), failing_read_(failing_read) {}

    IoResult<std::size_t> read(std::span<std::uint8_t> buffer) override {
        if (reads_++ == failing_read_) {
            return IoError::from_system_text("The device is not ready. (os error 21)");
        }
        const std::size_t count = std::min({buffer.size(), chunk_, bytes_.size() - offset_});
        std::copy_n(bytes_.begin() + std::ptrdiff_t(offset_), count, buffer.begin());
        offset_ += count;
        return count;
    }

    int reads() const { return reads_; }

  private:
    Bytes bytes_;
    std::size_t chunk_;
    std::optional<int> failing_read_;
    std::size_t offset_ = 0;
    int reads_ = 0;
};

TEST(VerifiedCacheReadTest, ShortReadsAreJoined) {
    for (const std::size_t chunk : {1, 3, 7}) {
        ScriptedSource source(cache_image(magic, sample_files()), chunk, std::nullopt);
        const auto read = read_verified_cache(source);
        ASSERT_TRUE(read) << chunk << ": " << read.error().text();
        expect_same_files(*read, sample_files());
    }
}

TEST(VerifiedCacheReadTest, AReadFailureAnywhereIsReturnedAsIs) {
    // One byte per read: the magic, lengths, records and the final probe are separate reads.
    const Bytes image = cache_image(magic, sample_files());
    ScriptedSource counting(image, 1, std::nullopt);
    ASSERT_TRUE(read_verified_cache(counting));
    const int total_reads = counting.reads();
    ASSERT_EQ(std::size_t(total_reads), image.size() + 1);

    for (const int failing : {0, 7, 8, 12, total_reads - 2, total_reads - 1}) {
        ScriptedSource source(image, 1, failing);
        const auto read = read_verified_cache(source);
        ASSERT_FALSE(read) << failing;
        EXPECT_EQ(read.error().text(), "The device is not ready. (os error 21)") << failing;
    }
}

TEST(VerifiedCacheWriteTest, LaysOutMagicThenLengthAndBytesOfEachRecord) {
    const ReleaseFiles files{text_bytes("PK"), text_bytes("c"), {}, text_bytes("sig\n")};
    const Bytes expected = concat({text_bytes("VLCACHE1"),
                                   {2, 0, 0, 0},
                                   text_bytes("PK"),
                                   {1, 0, 0, 0},
                                   text_bytes("c"),
                                   {0, 0, 0, 0},
                                   {4, 0, 0, 0},
                                   text_bytes("sig\n")});
    EXPECT_EQ(encoded(files), expected);

    // Lengths are little-endian in all four bytes.
    const ReleaseFiles big{Bytes(0x010203, 0), {}, {}, {}};
    const Bytes out = encoded(big);
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 12), (Bytes{0x03, 0x02, 0x01, 0x00}));
}

TEST(VerifiedCacheWriteTest, WritingTwiceGivesTheSameBytesThatReadBack) {
    const ReleaseFiles cases[] = {
        sample_files(),
        {},
        {Bytes(70000, 0x42), Bytes(companion_size_limit, 0), text_bytes("s"), {}},
    };
    for (const ReleaseFiles& files : cases) {
        const Bytes first = encoded(files);
        const Bytes second = encoded(files);
        EXPECT_EQ(first, second);
        EXPECT_EQ(first.size(), 8 + 16 + files.package.size() + files.checksum.size() +
                                    files.signature.size() + files.checksum_signature.size());
        const auto read = read_bytes(first);
        ASSERT_TRUE(read) << read.error().text();
        expect_same_files(*read, files);
    }
}

TEST(VerifiedCacheWriteTest, RefusesARecordThatCouldNotBeReadBack) {
    struct Case {
        std::string_view name;
        ReleaseFiles files;
    };
    const Case cases[] = {
        {"package", {Bytes(package_size_limit + 1, 0), {}, {}, {}}},
        {"checksum", {{}, Bytes(companion_size_limit + 1, 0), {}, {}}},
        {"signature", {{}, {}, Bytes(companion_size_limit + 1, 0), {}}},
        {"checksum signature", {text_bytes("p"), {}, {}, Bytes(companion_size_limit + 1, 0)}},
    };
    for (const Case& c : cases) {
        Bytes out;
        MemorySink sink(out);
        const IoStatus written = write_verified_cache_contents(sink, c.files);
        ASSERT_FALSE(written) << c.name;
        EXPECT_EQ(written.error().text(), "Cache too large") << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
    }
}

class FailingSink final : public ByteSink {
  public:
    explicit FailingSink(int failing_write) : failing_write_(failing_write) {}

    IoStatus write(ByteView) override {
        if (writes_++ == failing_write_)
            return IoError::from_system_text("Disk full (os error 112)");
        return {};
    }

    int writes() const { return writes_; }

  private:
    int failing_write_;
    int writes_ = 0;
};

TEST(VerifiedCacheWriteTest, StopsAtTheFirstWriteFailure) {
    // Magic, then length and bytes of four records.
    for (int failing = 0; failing < 9; ++failing) {
        FailingSink sink(failing);
        const IoStatus written = write_verified_cache_contents(sink, sample_files());
        ASSERT_FALSE(written) << failing;
        EXPECT_EQ(written.error().text(), "Disk full (os error 112)") << failing;
        EXPECT_EQ(sink.writes(), failing + 1);
    }
    FailingSink sink(9);
    EXPECT_TRUE(write_verified_cache_contents(sink, sample_files()));
}

}  // namespace
}  // namespace vantrel
