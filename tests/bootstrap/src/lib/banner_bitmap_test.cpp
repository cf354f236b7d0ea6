#include "lib/banner_bitmap.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace vantrel {
namespace {

constexpr std::int32_t big = std::numeric_limits<std::int32_t>::max();

TEST(BannerCropTest, CutsTheBandShapeAroundFiftySixPercent) {
    struct Case {
        std::int32_t image_width, image_height, band_width, band_height;
        std::optional<BannerCrop> crop;
    };
    // clang-format off
    const Case cases[] = {
        {960, 720, 165, 353, BannerCrop{369, 0, 336, 720}},    // the banner in a tall band
        {960, 720, 400, 100, BannerCrop{0, 240, 960, 240}},    // wider than the image: whole width
        {100, 100, 10, 100,  BannerCrop{51, 0, 10, 100}},      // centred on x = 56
        {100, 100, 90, 100,  BannerCrop{10, 0, 90, 100}},      // lowered to W - sw
        {100, 100, 100, 100, BannerCrop{0, 0, 100, 100}},      // raised to 0
        {100, 101, 100, 100, BannerCrop{0, 0, 100, 100}},      // (H - sh) / 2 truncates
        {big, big, 1, big,   BannerCrop{1202590842, 0, 1, big}},  // products beyond 32 bits
        {960, 720, 0, 353,   std::nullopt},
        {960, 720, 165, 0,   std::nullopt},
        {960, 720, -5, 353,  std::nullopt},
        {1, 720, 1, 1000,    std::nullopt},                    // H * dw / dh is 0
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(banner_crop(c.image_width, c.image_height, c.band_width, c.band_height), c.crop)
            << c.image_width << "x" << c.image_height << " into " << c.band_width << "x"
            << c.band_height;
    }
}

TEST(BannerPixelsTest, RgbAndRgbaBecomeBlueInTheLowestByte) {
    const std::vector<unsigned char> rgb = {0x11, 0x22, 0x33, 0xA0, 0xB0, 0xC0, 0xFF};
    EXPECT_EQ(bitmap_pixels(rgb, 3), (std::vector<std::uint32_t>{0x112233, 0xA0B0C0}));
    const std::vector<unsigned char> rgba = {0x11, 0x22, 0x33, 0x80, 0xFF, 0xFE, 0xFD, 0x00};
    EXPECT_EQ(bitmap_pixels(rgba, 4), (std::vector<std::uint32_t>{0x112233, 0xFFFEFD}));
}

// PNG colour types of the images the tests encode.
enum class Colour : unsigned char { grey = 0, rgb = 2, rgba = 6 };

void append_big_endian(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void append_chunk(std::vector<unsigned char>& png, const char (&type)[5],
                  const std::vector<unsigned char>& body) {
    append_big_endian(png, static_cast<std::uint32_t>(body.size()));
    const std::size_t type_at = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    append_big_endian(png, static_cast<std::uint32_t>(
                               crc32(0, png.data() + type_at, static_cast<uInt>(body.size() + 4))));
}

// A minimal encoder: the program's libpng is built without the writer.
std::vector<unsigned char> encoded_png(std::uint32_t width, std::uint32_t height, Colour colour,
                                       const std::vector<unsigned char>& data) {
    const std::size_t row_bytes = data.size() / height;
    std::vector<unsigned char> rows;
    for (std::uint32_t y = 0; y < height; ++y) {
        rows.push_back(0);  // filter: none
        rows.insert(rows.end(), data.begin() + y * row_bytes, data.begin() + (y + 1) * row_bytes);
    }
    std::vector<unsigned char> compressed(compressBound(static_cast<uLong>(rows.size())));
    uLongf compressed_size = static_cast<uLongf>(compressed.size());
    EXPECT_EQ(
        compress(compressed.data(), &compressed_size, rows.data(), static_cast<uLong>(rows.size())),
        Z_OK);
    compressed.resize(compressed_size);

    std::vector<unsigned char> header;
    append_big_endian(header, width);
    append_big_endian(header, height);
    header.insert(header.end(), {8, static_cast<unsigned char>(colour), 0, 0, 0});
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    append_chunk(png, "IHDR", header);
    append_chunk(png, "IDAT", compressed);
    append_chunk(png, "IEND", {});
    return png;
}

TEST(BannerDecodeTest, OnlyColourImagesDecode) {
    const auto rgb = decode_banner(encoded_png(2, 1, Colour::rgb, {1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(rgb);
    EXPECT_EQ((std::pair(rgb->width, rgb->height)), (std::pair(2, 1)));
    EXPECT_EQ(rgb->pixels, (std::vector<std::uint32_t>{0x010203, 0x040506}));

    const auto rgba =
        decode_banner(encoded_png(1, 2, Colour::rgba, {9, 8, 7, 255, 0x40, 0x50, 0x60, 0x7F}));
    ASSERT_TRUE(rgba);
    EXPECT_EQ((std::pair(rgba->width, rgba->height)), (std::pair(1, 2)));
    EXPECT_EQ(rgba->pixels, (std::vector<std::uint32_t>{0x090807, 0x405060}));

    EXPECT_FALSE(decode_banner(encoded_png(2, 1, Colour::grey, {1, 2})));
    std::vector<unsigned char> truncated = encoded_png(2, 1, Colour::rgb, {1, 2, 3, 4, 5, 6});
    truncated.resize(truncated.size() / 2);
    EXPECT_FALSE(decode_banner(truncated));
    EXPECT_FALSE(decode_banner(std::vector<unsigned char>(64, 0x89)));
}

}  // namespace
}  // namespace vantrel
