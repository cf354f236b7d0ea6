#include "lib/banner_bitmap.hpp"

#include <png.h>

#include <algorithm>
#include <limits>

namespace vantrel {
namespace {

constexpr std::int64_t crop_centre_percent = 56;

// Frees what libpng allocated for the image on every path.
class PngImage {
  public:
    PngImage() { image_.version = PNG_IMAGE_VERSION; }
    ~PngImage() { png_image_free(&image_); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;

    png_image* get() { return &image_; }

  private:
    png_image image_{};
};

}  // namespace

std::vector<std::uint32_t> bitmap_pixels(std::span<const unsigned char> bytes,
                                         std::size_t bytes_per_pixel) {
    std::vector<std::uint32_t> pixels(bytes.size() / bytes_per_pixel);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const unsigned char* rgb = bytes.data() + i * bytes_per_pixel;
        pixels[i] = (std::uint32_t(rgb[0]) << 16) | (std::uint32_t(rgb[1]) << 8) | rgb[2];
    }
    return pixels;
}

std::optional<BannerBitmap> decode_banner(std::span<const unsigned char> png) {
    PngImage image;
    if (!png_image_begin_read_from_memory(image.get(), png.data(), png.size()))
        return std::nullopt;
    png_image& info = *image.get();
    // Colour images only (palettes expand to colour); grey ones are refused.
    if ((info.format & PNG_FORMAT_FLAG_COLOR) == 0)
        return std::nullopt;
    const bool alpha = (info.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    info.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const std::size_t bytes_per_pixel = alpha ? 4 : 3;

    constexpr std::uint64_t int32_max = std::numeric_limits<std::int32_t>::max();
    const std::uint64_t row_bytes = std::uint64_t(info.width) * bytes_per_pixel;
    if (info.width > int32_max || info.height > int32_max || row_bytes > int32_max ||
        row_bytes * info.height > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(row_bytes * info.height));
    if (!png_image_finish_read(image.get(), nullptr, bytes.data(),
                               static_cast<png_int_32>(row_bytes), nullptr)) {
        return std::nullopt;
    }
    return BannerBitmap{bitmap_pixels(bytes, bytes_per_pixel),
                        static_cast<std::int32_t>(info.width),
                        static_cast<std::int32_t>(info.height)};
}

std::optional<BannerCrop> banner_crop(std::int32_t image_width, std::int32_t image_height,
                                      std::int32_t band_width, std::int32_t band_height) {
    if (band_width < 1 || band_height < 1 || image_width < 1 || image_height < 1)
        return std::nullopt;
    // 64 bits: the products of two 32-bit sizes.
    const std::int64_t w = image_width;
    const std::int64_t h = image_height;
    const std::int64_t source_width = std::min(w, h * band_width / band_height);
    const std::int64_t source_height = std::min(h, w * band_height / band_width);
    if (source_width < 1 || source_height < 1)
        return std::nullopt;
    const std::int64_t centred = w * crop_centre_percent / 100 - source_width / 2;
    const std::int64_t x = std::clamp<std::int64_t>(centred, 0, w - source_width);
    return BannerCrop{
        static_cast<std::int32_t>(x), static_cast<std::int32_t>((h - source_height) / 2),
        static_cast<std::int32_t>(source_width), static_cast<std::int32_t>(source_height)};
}

}  // namespace vantrel
