#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantrel {

// A decoded banner: one 32-bit value per pixel, blue in the lowest byte, then green and
// red, the top byte zero; the top row first.
struct BannerBitmap {
    std::vector<std::uint32_t> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The PNG as a bitmap, or nothing when it does not decode to 8-bit RGB or RGBA.
std::optional<BannerBitmap> decode_banner(std::span<const unsigned char> png);

// Decoded RGB (3 bytes a pixel) or RGBA (4) bytes as bitmap pixels; alpha is dropped.
std::vector<std::uint32_t> bitmap_pixels(std::span<const unsigned char> bytes,
                                         std::size_t bytes_per_pixel);

// The part of the image drawn into a band, in image pixels.
struct BannerCrop {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;

    friend bool operator==(const BannerCrop&, const BannerCrop&) = default;
};

// The band's shape cut from the image, centred 56 % across it and vertically. Nothing
// when the band or the crop is empty.
std::optional<BannerCrop> banner_crop(std::int32_t image_width, std::int32_t image_height,
                                      std::int32_t band_width, std::int32_t band_height);

}  // namespace vantrel
