#include <gtest/gtest.h>

#include "lib/banner_bitmap.hpp"
#include "lib/banner_image.hpp"

namespace vantrel {
namespace {

// The Windows libpng is built for the simplified reader alone: the banner the program
// carries must still decode with it, or the wizard would quietly go without.
TEST(CarriedBannerTest, DecodesWithTheProgramsPngReader) {
    const auto banner = decode_banner(banner_png());
    ASSERT_TRUE(banner);
    EXPECT_EQ(banner->width, 960);
    EXPECT_EQ(banner->height, 720);
    EXPECT_EQ(banner->pixels.size(), 960u * 720u);
}

}  // namespace
}  // namespace vantrel
