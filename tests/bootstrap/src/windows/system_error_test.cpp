#include "windows/system_error.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

TEST(SystemErrorTest, RealCodesGiveTheSystemMessageAndTheCode) {
    for (const std::uint32_t code : {2u, 5u, 32u}) {
        const std::string text = system_error_text(code);
        const std::string suffix = " (os error " + std::to_string(code) + ")";
        ASSERT_TRUE(text.ends_with(suffix)) << text;
        const std::string message = text.substr(0, text.size() - suffix.size());
        EXPECT_FALSE(message.empty()) << code;
        EXPECT_FALSE(message.starts_with("OS Error")) << text;
        EXPECT_NE(message.back(), '\n') << text;
        EXPECT_NE(message.back(), '\r') << text;
        EXPECT_NE(message.back(), ' ') << text;
    }
}

TEST(SystemErrorTest, CodeWithoutMessageNamesTheLookupFailure) {
    const std::string text = system_error_text(0x2000ABCDu);
    EXPECT_TRUE(std::regex_match(
        text,
        std::regex(
            R"(OS Error 536914893 \(FormatMessageW\(\) returned error [1-9][0-9]*\) \(os error 536914893\))")))
        << text;
}

TEST(SystemErrorTest, LastErrorOfAFailedCall) {
    const HANDLE file = CreateFileW(L"C:\\no-such-folder-vantrel\\x", GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(file, INVALID_HANDLE_VALUE);
    const IoError failure = last_os_error();
    EXPECT_TRUE(failure.text().ends_with(" (os error 3)")) << failure.text();
    EXPECT_EQ(Error::from_io(Stage::Installation, failure).display(),
              "Installation failed: " + failure.text());
}

TEST(WideTextTest, CutsAtTheFirstNulAndRoundTrips) {
    EXPECT_EQ(from_wide(std::wstring(L"abc\0def", 7)), "abc");
    EXPECT_EQ(from_wide(to_wide("C:\\Users\\J\xc3\xb6rg")), "C:\\Users\\J\xc3\xb6rg");
    EXPECT_EQ(from_wide(std::wstring(1, wchar_t(0xDC00))), std::nullopt);
}

}  // namespace
}  // namespace vantrel
