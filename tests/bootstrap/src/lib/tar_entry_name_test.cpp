#include "lib/tar_entry_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tar_builder_support.hpp"

namespace vantrel {
namespace {

using testing::TarBuilder;
using testing::TarHeader;

const std::string with_nul("launcher.exe\0x", 14);

// A header whose size field is in base-256 form, as tar writes sizes above 8 GiB:
// size in the last 8 bytes, and above_64_bits in the byte before them.
Bytes base_256_sized(const TarHeader& header, std::uint64_t size, std::uint8_t above_64_bits = 0) {
    Bytes block = testing::tar_header(header);
    std::fill_n(block.begin() + 124, 12, 0);
    block[124] = 0x80;
    block[127] = above_64_bits;
    for (std::size_t i = 0; i < 8; ++i)
        block[135 - i] = static_cast<std::uint8_t>(size >> (8 * i));
    testing::set_tar_checksum(block);
    return block;
}

TEST(TarEntryNameTest, NameFromTheRecordsBeforeTheHeader) {
    const std::string body = testing::pax_record("path", "from-pax.exe");
    struct Case {
        std::string what;
        Bytes blocks;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"ustar name", TarBuilder().entry({.name = "plain.exe"}).blocks(), "plain.exe"},
        {"ustar prefix and name", TarBuilder().entry({.name = "a.exe", .prefix = "bin"}).blocks(),
         "bin/a.exe"},
        {"GNU magic: no prefix",
         TarBuilder().entry({.name = "a.exe", .prefix = "bin", .gnu = true}).blocks(), "a.exe"},
        {"GNU long name less its NUL",
         TarBuilder().gnu_long_name("long.exe").entry({.name = "short"}).blocks(), "long.exe"},
        {"GNU long name keeps a NUL inside",
         TarBuilder().gnu_long_name(with_nul).entry({.name = "short"}).blocks(), with_nul},
        {"pax path", TarBuilder().pax({{"path", "p.exe"}}).entry({.name = "short"}).blocks(),
         "p.exe"},
        {"pax path keeps a NUL inside",
         TarBuilder().pax({{"path", with_nul}}).entry({.name = "short"}).blocks(), with_nul},
        {"last pax path of several",
         TarBuilder()
             .pax({{"path", "first.exe"}, {"comment", "c"}, {"path", "second.exe"}})
             .entry({.name = "short"})
             .blocks(),
         "second.exe"},
        {"GNU long name before a pax path",
         TarBuilder()
             .pax({{"path", "p.exe"}})
             .gnu_long_name("long.exe")
             .entry({.name = "short"})
             .blocks(),
         "long.exe"},
        {"global pax path is not the entry's",
         TarBuilder().pax({{"path", "p.exe"}}, 'g').entry({.name = "short"}).blocks(), "short"},
        {"base-256 size of a pax header",
         TarBuilder()
             .raw(base_256_sized({.name = "PaxHeaders/x", .type = 'x'},
                                 static_cast<std::uint8_t>(body.size())))
             .raw(as_bytes(body))
             .raw(Bytes(512 - body.size(), 0))
             .entry({.name = "short"})
             .blocks(),
         "from-pax.exe"},
        {"pax record of a wrong length",
         TarBuilder()
             .entry({.name = "PaxHeaders/x", .type = 'x', .size = 13}, as_bytes("20 path=a.exe\n"))
             .entry({.name = "short"})
             .blocks(),
         std::nullopt},
        {"pax record without a key",
         TarBuilder().pax({{"", "v"}}).entry({.name = "short"}).blocks(), "short"},
        {"record data cut short",
         TarBuilder().entry({.name = "L", .type = 'L', .size = 600, .gnu = true}).blocks(),
         std::nullopt},
        {"a block after the header", TarBuilder().entry({.name = "a"}).raw(Bytes(512, 0)).blocks(),
         std::nullopt},
        {"no header", Bytes(100, 0), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tar_entry_name(c.blocks), c.name) << c.what;
}

TEST(TarEntryNameTest, RecordSizeUpToTheLargestRecord) {
    const TarHeader pax{.name = "PaxHeaders/x", .type = 'x'};
    struct Case {
        std::string what;
        Bytes header;
        std::optional<std::uint64_t> size;
    };
    const Case cases[] = {
        {"octal", testing::tar_header({.name = "a", .size = 600}), 600},
        {"base-256, exactly the largest record", base_256_sized(pax, tar_largest_record),
         tar_largest_record},
        {"base-256, one past", base_256_sized(pax, tar_largest_record + 1), std::nullopt},
        {"base-256 above 64 bits, wrapping to 512", base_256_sized(pax, 512, 1), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tar_record_size(c.header), c.size) << c.what;
}

}  // namespace
}  // namespace vantrel
