#include "windows/winhttp_error.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(WinHttpErrorTest, SystemCodesKeepTheirSystemText) {
    const std::string text = winhttp_error_text(5);
    EXPECT_TRUE(text.ends_with(" (os error 5)")) << text;
    EXPECT_FALSE(text.starts_with("OS Error")) << text;
}

TEST(WinHttpErrorTest, WinHttpCodesUseTheModulesMessages) {
    const std::string text = winhttp_error_text(12029);
    if (text.starts_with("OS Error 12029 (FormatMessageW() returned error")) {
        GTEST_SKIP() << "this winhttp.dll has no message table (Wine's has none): " << text;
    }
    EXPECT_TRUE(text.ends_with(" (os error 12029)")) << text;
    EXPECT_FALSE(text.starts_with("OS Error")) << text;
}

}  // namespace
}  // namespace vantrel
