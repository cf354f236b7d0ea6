#include "lib/banner_bitmap.hpp"

#include <gtest/gtest.h>
#include <png.h>

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

std::vector<unsigned char> encoded_png(std::uint32_t width, std::uint32_t height,
                                       std::uint32_t format,
                                       const std::vector<unsigned char>& data) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = format;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, data.data(), 0, nullptr));
    std::vector<unsigned char> png(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, data.data(), 0, nullptr));
    png.resize(size);
    return png;
}

TEST(BannerDecodeTest, OnlyColourImagesDecode) {
    const auto rgb = decode_banner(encoded_png(2, 1, PNG_FORMAT_RGB, {1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(rgb);
    EXPECT_EQ((std::pair(rgb->width, rgb->height)), (std::pair(2, 1)));
    EXPECT_EQ(rgb->pixels, (std::vector<std::uint32_t>{0x010203, 0x040506}));

    const auto rgba =
        decode_banner(encoded_png(1, 2, PNG_FORMAT_RGBA, {9, 8, 7, 255, 0x40, 0x50, 0x60, 0x7F}));
    ASSERT_TRUE(rgba);
    EXPECT_EQ((std::pair(rgba->width, rgba->height)), (std::pair(1, 2)));
    EXPECT_EQ(rgba->pixels, (std::vector<std::uint32_t>{0x090807, 0x405060}));

    EXPECT_FALSE(decode_banner(encoded_png(2, 1, PNG_FORMAT_GRAY, {1, 2})));
    std::vector<unsigned char> truncated = encoded_png(2, 1, PNG_FORMAT_RGB, {1, 2, 3, 4, 5, 6});
    truncated.resize(truncated.size() / 2);
    EXPECT_FALSE(decode_banner(truncated));
    EXPECT_FALSE(decode_banner(std::vector<unsigned char>(64, 0x89)));
}

}  // namespace
}  // namespace vantrel
