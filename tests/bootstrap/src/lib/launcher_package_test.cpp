#include "lib/launcher_package.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lib/install_names.hpp"
#include "lib/release_limits.hpp"
#include "minisign_tool_support.hpp"
#include "tar_builder_support.hpp"

namespace vantrel {
namespace {

using testing::gzip;
using testing::TarBuilder;
using testing::windows_image;

constexpr std::string_view no_launcher = "Package has no launcher.";
constexpr std::string_view invalid_entry = "Invalid launcher archive entry (name, type, or size).";
constexpr std::string_view not_one = "Package must contain exactly one launcher.";
constexpr std::string_view data_after = "Unexpected data after launcher archive.";
constexpr std::string_view not_executable = "Launcher is not a Windows x86_64 executable.";
// libarchive's own texts
constexpr std::string_view truncated_tar = "Truncated tar archive";
constexpr std::string_view unrecognised = "Unrecognized archive format";
constexpr std::string_view damaged_tar = "Damaged tar archive";
// the gzip layer's texts
constexpr std::string_view invalid_gzip_header = "invalid gzip header";
constexpr std::string_view corrupt_deflate = "corrupt deflate stream";
constexpr std::string_view crc_mismatch = "corrupt gzip stream does not have a matching checksum";
constexpr std::string_view length_mismatch = "corrupt gzip stream does not have a matching length";
constexpr std::string_view gzip_ends_early = "unexpected end of gzip stream";

constexpr std::size_t block = 512;
constexpr std::size_t tail_limit = 1048576;
constexpr std::size_t tar_stream_limit = 68157440;

const std::string launcher_name(launcher_file_name);
// Read up to its NUL, this would pass for the launcher's name.
const std::string launcher_name_nul_x = launcher_name + std::string("\0x", 2);

// The failure detail, or "" when the launcher comes out as expected.
std::string outcome(ByteView package, ByteView expected) {
    const Result<Bytes> result = extract_launcher(package);
    if (!result) {
        EXPECT_EQ(result.error().stage(), Stage::Extraction);
        return result.error().detail();
    }
    EXPECT_TRUE(std::equal(result->begin(), result->end(), expected.begin(), expected.end()))
        << "launcher bytes differ";
    return "";
}

// Through the one-call inflation and through zlib's stream, which a header checksum
// makes extraction take: the two must agree.
std::string outcome_of_archive(const Bytes& archive, ByteView expected) {
    const std::string whole = outcome(gzip(archive), expected);
    EXPECT_EQ(outcome(gzip(archive, {.header_crc = true}), expected), whole) << "zlib's stream";
    return whole;
}

Bytes damaged_header(const testing::TarHeader& header) {
    Bytes bytes = testing::tar_header(header);
    bytes[0] ^= 0x20;  // the checksum no longer matches
    return bytes;
}

// A GNU sparse entry with one data run of the whole size, whose map continues
// into an extension block: libarchive uses that block after the header.
Bytes sparse_with_extension_block(ByteView data) {
    Bytes header =
        testing::tar_header({.name = launcher_name, .type = 'S', .size = data.size(), .gnu = true});
    testing::put_tar_number(header, 386, 12, 0);            // first run: offset
    testing::put_tar_number(header, 398, 12, data.size());  // and length
    header[482] = 1;                                        // the map goes on
    testing::put_tar_number(header, 483, 12, data.size());  // real size
    testing::set_tar_checksum(header);
    Bytes padded(data.begin(), data.end());
    padded.resize((data.size() + block - 1) / block * block, 0);
    return TarBuilder().raw(header).raw(Bytes(block, 0)).raw(padded).finish();
}

struct Case {
    std::string what;
    Bytes archive;             // decompressed
    std::string_view failure;  // empty: the launcher is extracted
};

TEST(LauncherPackageTest, ArchiveShapes) {
    const Bytes image = windows_image();
    const std::size_t size = image.size();
    const std::string n = std::to_string(size);
    const Bytes small = {1, 2, 3};
    const Case cases[] = {
        {"ustar entry, two end blocks, record padding",
         TarBuilder().file(launcher_name, image).finish(), ""},
        {"GNU header",
         TarBuilder().entry({.name = launcher_name, .size = size, .gnu = true}, image).finish(),
         ""},
        {"type flag NUL",
         TarBuilder().entry({.name = launcher_name, .type = '\0', .size = size}, image).finish(),
         ""},
        {"end of stream instead of end blocks",
         TarBuilder().file(launcher_name, image).finish(0, 0), ""},
        {"pax path names the launcher",
         TarBuilder().pax({{"path", launcher_name}}).file("other.exe", image).finish(), ""},
        {"pax size record",
         TarBuilder().pax({{"size", n}}).entry({.name = launcher_name, .size = 0}, image).finish(),
         ""},
        {"GNU long name names the launcher",
         TarBuilder()
             .gnu_long_name(launcher_name)
             .entry({.name = "other.exe", .size = size, .gnu = true}, image)
             .finish(),
         ""},
        {"global pax header first",
         TarBuilder().pax({{"comment", "release"}}, 'g').file(launcher_name, image).finish(), ""},

        {"name with dot and slash", TarBuilder().file("./" + launcher_name, image).finish(),
         invalid_entry},
        {"entry in a folder", TarBuilder().file("bin/" + launcher_name, image).finish(),
         invalid_entry},
        {"folder in the ustar prefix",
         TarBuilder().entry({.name = launcher_name, .size = size, .prefix = "bin"}, image).finish(),
         invalid_entry},
        {"other letter case", TarBuilder().file("Vantrel-launcher.exe", image).finish(),
         invalid_entry},
        {"directory first", TarBuilder().directory("bin/").file(launcher_name, image).finish(),
         invalid_entry},
        {"pax path names another file",
         TarBuilder().pax({{"path", "other.exe"}}).file(launcher_name, image).finish(),
         invalid_entry},
        {"GNU long name names another file",
         TarBuilder()
             .gnu_long_name("bin/" + launcher_name)
             .entry({.name = launcher_name, .size = size, .gnu = true}, image)
             .finish(),
         invalid_entry},
        {"GNU long name with a NUL after the launcher name",
         TarBuilder()
             .gnu_long_name(launcher_name_nul_x)
             .entry({.name = launcher_name, .size = size, .gnu = true}, image)
             .finish(),
         invalid_entry},
        {"pax path with a NUL after the launcher name",
         TarBuilder().pax({{"path", launcher_name_nul_x}}).file(launcher_name, image).finish(),
         invalid_entry},
        {"AppleDouble entry first",
         TarBuilder().file("._" + launcher_name, small).file(launcher_name, image).finish(),
         invalid_entry},
        {"hard link", TarBuilder().hard_link(launcher_name, "other.exe").finish(), invalid_entry},
        {"pax hard link with data",
         TarBuilder()
             .pax({{"comment", "x"}})
             .entry({.name = launcher_name, .type = '1', .size = size, .link_target = "other.exe"},
                    image)
             .finish(),
         invalid_entry},
        {"symbolic link", TarBuilder().symlink(launcher_name, "other.exe").finish(), invalid_entry},
        {"contiguous file",
         TarBuilder().entry({.name = launcher_name, .type = '7', .size = size}, image).finish(),
         invalid_entry},
        {"GNU sparse file",
         TarBuilder()
             .entry({.name = launcher_name, .type = 'S', .size = size, .gnu = true}, image)
             .finish(),
         invalid_entry},
        {"GNU sparse file with a map extension", sparse_with_extension_block(image), invalid_entry},
        {"unknown type",
         TarBuilder().entry({.name = launcher_name, .type = '8', .size = size}, image).finish(),
         invalid_entry},
        {"fifo", TarBuilder().entry({.name = launcher_name, .type = '6'}).finish(), invalid_entry},
        {"sparse map beyond the declared size",
         TarBuilder()
             .pax({{"GNU.sparse.size", "100"}, {"GNU.sparse.map", "0," + n}})
             .file(launcher_name, image)
             .finish(),
         invalid_entry},
        {"sparse map with a hole at the end",
         TarBuilder()
             .pax({{"GNU.sparse.size", std::to_string(size + 100)},
                   {"GNU.sparse.map", "0," + n + "," + std::to_string(size + 100) + ",0"}})
             .file(launcher_name, image)
             .finish(),
         invalid_entry},
        {"declared size above the limit, no data",
         TarBuilder().entry({.name = launcher_name, .size = launcher_size_limit + 1}).finish(0, 0),
         invalid_entry},
        {"declared size at the limit is read",
         TarBuilder()
             .entry({.name = launcher_name, .size = launcher_size_limit}, image)
             .finish(0, 0),
         truncated_tar},

        {"second file", TarBuilder().file(launcher_name, image).file("readme.txt", small).finish(),
         not_one},
        {"second file empty",
         TarBuilder().file(launcher_name, image).file("empty.txt", {}).finish(), not_one},
        {"second entry a directory",
         TarBuilder().file(launcher_name, image).directory("bin/").finish(), not_one},
        {"launcher twice",
         TarBuilder().file(launcher_name, image).file(launcher_name, image).finish(), not_one},
        {"damaged second header",
         TarBuilder()
             .file(launcher_name, image)
             .raw(damaged_header({.name = "readme.txt"}))
             .finish(),
         not_one},

        {"end blocks only", TarBuilder().finish(), no_launcher},
        {"one end block only", TarBuilder().finish(1, 0), no_launcher},
        {"no bytes at all", {}, no_launcher},

        {"damaged first header",
         TarBuilder()
             .raw(damaged_header({.name = launcher_name, .size = size}))
             .raw(image)
             .finish(),
         unrecognised},
        {"first block cut short", Bytes(100, 'x'), unrecognised},
        {"damaged header after a pax header",
         TarBuilder()
             .pax({{"path", launcher_name}})
             .raw(damaged_header({.name = launcher_name, .size = size}))
             .raw(image)
             .finish(),
         damaged_tar},
        {"data cut short",
         TarBuilder().entry({.name = launcher_name, .size = size + block}, image).finish(0, 0),
         truncated_tar},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(outcome_of_archive(c.archive, image), c.failure);
    }
}

// What follows the first all-zero block (the rest of the end marker and the
// padding) may be 1 MiB of zeros. Archive ends around 64 KiB multiples check
// what the tar reader had already read ahead.
TEST(LauncherPackageTest, TailAfterTheArchive) {
    for (const std::size_t end :
         {4096u, 65536u - 1024, 65536u - 512, 65536u, 65536u + 512, 131072u}) {
        SCOPED_TRACE("archive end " + std::to_string(end));
        const Bytes image = windows_image(0x8664, end - block);
        Bytes longest = TarBuilder().file(launcher_name, image).finish(1, 0);
        ASSERT_EQ(longest.size(), end + block);
        longest.resize(longest.size() + tail_limit, 0);
        EXPECT_EQ(outcome_of_archive(longest, image), "");

        Bytes too_long = longest;
        too_long.push_back(0);
        EXPECT_EQ(outcome_of_archive(too_long, image), size_limit_message);
        too_long.back() = 1;
        EXPECT_EQ(outcome_of_archive(too_long, image), size_limit_message);

        // A non-zero first end block is a header, and so a second entry.
        Bytes marked = longest;
        marked[end] = 1;
        EXPECT_EQ(outcome_of_archive(marked, image), not_one);

        const std::size_t positions[] = {end + block,
                                         end + block + 1,
                                         end + 2 * block - 1,
                                         end + 2 * block,
                                         end + 10239,
                                         65535,
                                         65536,
                                         131071,
                                         131072,
                                         196608,
                                         longest.size() - 1};
        for (const std::size_t position : positions) {
            if (position < end + block)
                continue;
            SCOPED_TRACE("non-zero byte at " + std::to_string(position));
            Bytes broken = longest;
            broken[position] = 0x80;
            EXPECT_EQ(outcome_of_archive(broken, image), data_after);
        }
    }
}

TEST(LauncherPackageTest, GzipLayer) {
    const Bytes image = windows_image();
    const Bytes archive = TarBuilder().file(launcher_name, image).finish();
    const Bytes good = gzip(archive);
    auto changed = [&](std::size_t offset, std::uint8_t value) {
        Bytes bytes = good;
        bytes[offset] = value;
        return bytes;
    };
    auto cut = [&](std::size_t count) { return Bytes(good.begin(), good.end() - count); };
    auto joined = [](Bytes first, ByteView second) {
        first.insert(first.end(), second.begin(), second.end());
        return first;
    };
    Bytes with_wrong_header_crc = gzip(archive, {.header_crc = true});
    with_wrong_header_crc[testing::gzip_header_size] ^= 1;
    Bytes half_archive = archive;
    half_archive.resize(block + image.size() / 2);
    Bytes unterminated_wrong_crc = gzip(TarBuilder().file(launcher_name, image).finish(0, 0));
    unterminated_wrong_crc[unterminated_wrong_crc.size() - testing::gzip_trailer_size] ^= 1;

    // Stored blocks keep the tar bytes in place: header, block header, 100 data bytes.
    const Bytes stored = gzip(archive, {.level = 0});
    const Bytes cut_in_launcher(stored.begin(),
                                stored.begin() + testing::gzip_header_size + 5 + block + 100);

    const std::size_t crc_at = good.size() - testing::gzip_trailer_size;
    const std::size_t length_at = good.size() - 4;
    struct GzipCase {
        std::string what;
        Bytes package;
        std::string_view failure;
    };
    const GzipCase cases[] = {
        {"stored blocks", gzip(archive, {.level = 0}), ""},
        {"optional header fields",
         gzip(archive, {.file_name = "package.tar",
                        .extra = {1, 2, 3, 4},
                        .comment = "release",
                        .header_crc = true}),
         ""},
        {"bytes after the first member", joined(good, gzip(as_bytes("another member"))), ""},
        {"garbage after the first member", joined(good, as_bytes("garbage")), ""},

        {"no bytes", {}, invalid_gzip_header},
        {"not gzip", changed(0, 0x1e), invalid_gzip_header},
        {"method not deflate", changed(testing::gzip_method_offset, 7), invalid_gzip_header},
        {"reserved flag", changed(testing::gzip_flags_offset, 0x20), invalid_gzip_header},
        {"wrong header CRC", with_wrong_header_crc, invalid_gzip_header},
        {"header cut short", Bytes(good.begin(), good.begin() + 5), invalid_gzip_header},
        {"invalid first block", changed(testing::gzip_header_size, 0x07), corrupt_deflate},
        {"invalid block inside the launcher", gzip(half_archive, {.corrupt_end = true}),
         corrupt_deflate},
        {"invalid block after the archive", gzip(archive, {.corrupt_end = true}), corrupt_deflate},
        {"wrong CRC-32", changed(crc_at, good[crc_at] ^ 1), crc_mismatch},
        {"wrong length", changed(length_at, good[length_at] ^ 1), length_mismatch},
        {"trailer missing", cut(testing::gzip_trailer_size), gzip_ends_early},
        {"length missing", cut(4), gzip_ends_early},
        {"cut inside the launcher", cut_in_launcher, gzip_ends_early},
        // Without an end marker the tar reader asks for more and meets the fault
        // while looking for a second entry.
        {"wrong CRC-32, no end marker", unterminated_wrong_crc, not_one},
    };
    for (const GzipCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(outcome(c.package, image), c.failure);
    }
}

Bytes with_pe_offset(Bytes image, std::uint32_t offset) {
    for (int i = 0; i < 4; ++i)
        image[60 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    return image;
}

TEST(LauncherPackageTest, ExecutableCheck) {
    const Bytes good = windows_image();
    auto changed = [&](std::size_t offset, std::uint8_t value) {
        Bytes bytes = good;
        bytes[offset] = value;
        return bytes;
    };
    Bytes pe_at_end = with_pe_offset(good, static_cast<std::uint32_t>(good.size() - 6));
    std::copy_n(good.begin() + 64, 6, pe_at_end.end() - 6);
    // The PE signature may overlap the MS-DOS header; only the fields count.
    Bytes overlapping = with_pe_offset(Bytes(64, 0), 2);
    const std::uint8_t header[] = {'M', 'Z', 'P', 'E', 0, 0, 0x64, 0x86};
    std::copy(std::begin(header), std::end(header), overlapping.begin());

    struct ImageCase {
        std::string what;
        Bytes image;
        bool accepted;
    };
    const ImageCase cases[] = {
        {"x86-64 image", good, true},
        {"smallest with PE header after the MS-DOS header", windows_image(0x8664, 70), true},
        {"PE header at the very end", pe_at_end, true},
        {"PE header inside the MS-DOS header", overlapping, true},
        {"63 bytes", Bytes(overlapping.begin(), overlapping.end() - 1), false},
        {"empty", {}, false},
        {"PE header one byte past the end",
         with_pe_offset(good, static_cast<std::uint32_t>(good.size() - 5)), false},
        {"e_lfanew near 4 GiB", with_pe_offset(good, 0xFFFFFFFE), false},
        {"32-bit x86", windows_image(0x014C), false},
        {"ARM64", windows_image(0xAA64), false},
        {"machine bytes swapped", windows_image(0x6486), false},
        {"no MZ", changed(0, 'Z'), false},
        {"PE signature with a non-zero byte", changed(66, 1), false},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Status status = check_executable(c.image);
        EXPECT_EQ(status.ok(), c.accepted);
        if (!status) {
            EXPECT_EQ(status.error().stage(), Stage::Extraction);
            EXPECT_EQ(status.error().detail(), not_executable);
        }
    }
}

TEST(LauncherPackageTest, ExtractionChecksTheImage) {
    const Bytes good = windows_image();
    const Bytes images[] = {windows_image(0x014C), windows_image(0xAA64),
                            Bytes(good.begin(), good.begin() + 63), with_pe_offset(good, 251)};
    for (const Bytes& image : images)
        EXPECT_EQ(outcome(testing::launcher_package(image), image), not_executable);
}

// The largest launcher, after a pax record that makes its data end right at the
// tar reader's limit: what follows is only seen as the bytes after the archive.
TEST(LauncherPackageTest, LargestLauncherUpToTheTarReadersLimit) {
    const Bytes launcher = windows_image(0x8664, launcher_size_limit);
    // The archive up to the end of the launcher's data, short_of_limit before the limit.
    auto archive_to_launcher_end = [&](std::size_t short_of_limit) {
        const std::size_t body =
            tar_stream_limit - launcher_size_limit - 2 * block - short_of_limit;
        std::size_t value = body - 32;
        while (testing::pax_record("comment", std::string(value, 'x')).size() < body)
            ++value;
        return Bytes(TarBuilder()
                         .pax({{"comment", std::string(value, 'x')}})
                         .file(launcher_name, launcher)
                         .blocks());
    };
    auto package = [](Bytes archive, ByteView rest, bool header_crc = false) {
        archive.insert(archive.end(), rest.begin(), rest.end());
        return gzip(archive, {.level = 1, .header_crc = header_crc});
    };
    const Bytes end_marker(2 * block, 0);
    const Bytes second_file = TarBuilder().file("readme.txt", Bytes{1}).finish(2, 0);

    Bytes at_limit = archive_to_launcher_end(0);
    ASSERT_EQ(at_limit.size(), tar_stream_limit);
    EXPECT_EQ(outcome(package(at_limit, end_marker), launcher), "");
    EXPECT_EQ(outcome(package(at_limit, end_marker, true), launcher), "");
    EXPECT_EQ(outcome(package(std::move(at_limit), second_file), launcher), data_after);
    EXPECT_EQ(outcome(package(archive_to_launcher_end(block), second_file), launcher), not_one);
}

std::optional<std::string> gnu_tar_missing() {
    const std::optional<Bytes> version = testing::run_tool({"tar", "--version"});
    if (!version)
        return "tar cannot be run here (GNU tar is used only on the Linux host)";
    if (as_text(*version).rfind("tar (GNU tar)", 0) != 0)
        return "tar is not GNU tar";
    return std::nullopt;
}

TEST(LauncherPackageTest, PackagesMadeByGnuTar) {
    if (const auto missing = gnu_tar_missing())
        GTEST_SKIP() << *missing;
    const Bytes image = windows_image();
    const testing::ToolScratch input;
    const testing::ToolScratch output;
    input.write(launcher_name, image);
    input.write("readme.txt", as_bytes("read me"));
    const std::string package = output.path("package.tar.gz").string();

    struct TarCase {
        std::vector<std::string> arguments;
        std::string_view failure;
    };
    const TarCase cases[] = {
        {{"--format=gnu", launcher_name}, ""},
        {{"--format=pax", launcher_name}, ""},
        {{"--format=ustar", launcher_name}, ""},
        {{"--format=gnu", "./" + launcher_name}, invalid_entry},
        {{"--format=pax", "."}, invalid_entry},
        {{"--format=ustar", launcher_name, "readme.txt"}, not_one},
    };
    for (const TarCase& c : cases) {
        std::vector<std::string> argv = {"tar", "-czf", package};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(argv[3] + " " + argv[4]);
        ASSERT_TRUE(testing::run_tool(argv, input.folder())) << "tar failed";
        EXPECT_EQ(outcome(testing::read_file(package), image), c.failure);
    }
}

}  // namespace
}  // namespace vantrel
