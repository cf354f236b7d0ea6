#include "lib/whole_inflate.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tar_builder_support.hpp"

namespace vantrel {
namespace {

using testing::gzip;

Bytes with(Bytes bytes, ByteView more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

TEST(WholeInflateTest, OnlyAnIntactMemberWithinItsStatedLength) {
    Bytes data(70000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 / 5);
    const Bytes member = gzip(data);
    // The trailer's length one more than the data's.
    Bytes wrong_length(member.begin(), member.end() - 4);
    for (std::size_t i = 0; i < 4; ++i)
        wrong_length.push_back(static_cast<std::uint8_t>((data.size() + 1) >> (8 * i)));
    Bytes damaged = member;
    damaged[member.size() / 2] ^= 0x55;
    const std::size_t limit = data.size();
    struct Case {
        std::string what;
        Bytes compressed;
        std::size_t limit;
        bool inflated;
    };
    const Case cases[] = {
        {"one member", member, limit, true},
        {"stated length above the limit", member, limit - 1, false},
        {"wrong stated length", wrong_length, limit + 1000, false},
        {"damaged deflate data", damaged, limit, false},
        {"header checksum", gzip(data, {.header_crc = true}), limit, false},
        {"data after the member, stating too little", with(member, Bytes{1, 0, 0, 0}), limit,
         false},
        {"data after the member, stating more", with(member, Bytes{0, 0, 2, 0}), 131072, true},
        {"too short for a member", Bytes(member.begin(), member.begin() + 17), limit, false},
    };
    for (const Case& c : cases) {
        const std::optional<Bytes> out = inflate_whole(c.compressed, c.limit);
        EXPECT_EQ(out.has_value(), c.inflated) << c.what;
        if (out) {
            EXPECT_EQ(*out, data) << c.what;
        }
    }
    EXPECT_EQ(inflate_whole(gzip({}), 0), Bytes{});
}

}  // namespace
}  // namespace vantrel
