#include "lib/utf.hpp"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(Utf8ValidationTest, ReportsTheFirstBadSequence) {
    struct Case {
        std::string_view bytes;
        std::optional<std::size_t> index;  // nothing: valid
        std::size_t invalid_len;
    };
    const Case cases[] = {
        {"", std::nullopt, 0},
        {"plain ascii", std::nullopt, 0},
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", std::nullopt, 0},  // é € emoji
        {"\xef\xbb\xbfhello", std::nullopt, 0},                     // BOM is valid text
        {"ab\x80", 2, 1},                                           // lone continuation
        {"\xc0\xaf", 0, 1},                                         // overlong lead
        {"\xc1\xbf", 0, 1},
        {"\xf5\x80\x80\x80", 0, 1},  // beyond U+10FFFF
        {"\xff", 0, 1},
        {"\xe0\x80\x80", 0, 1},      // overlong three-byte
        {"\xed\xa0\x80", 0, 1},      // surrogate
        {"\xf0\x80\x80\x80", 0, 1},  // overlong four-byte
        {"\xf4\x90\x80\x80", 0, 1},  // above U+10FFFF
        {"x\xe2\x82y", 1, 2},        // two good bytes, then a non-continuation
        {"\xf0\x9f\x98z", 0, 3},
        {"\xc3\xa9\xc3", 2, 0},  // ends inside a sequence
        {"\xe2\x82", 0, 0},
        {"\xf0\x9f\x98", 0, 0},
        {"\xe0", 0, 0},
        {"\xe0\x80", 0, 1},  // invalid second byte beats end of text
    };
    for (const Case& c : cases) {
        const auto failure = find_invalid_utf8(c.bytes);
        if (!c.index) {
            EXPECT_FALSE(failure) << testing::PrintToString(c.bytes);
            continue;
        }
        ASSERT_TRUE(failure) << testing::PrintToString(c.bytes);
        EXPECT_EQ(failure->index, *c.index) << testing::PrintToString(c.bytes);
        EXPECT_EQ(failure->invalid_len, c.invalid_len) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf16ConversionTest, RoundTripsAndRefusesUnpairedSurrogates) {
    const std::string text = "Vantrel \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80";
    const std::u16string wide = utf8_to_utf16(text);
    EXPECT_EQ(wide, u"Vantrel \u00e9 \u20ac \U0001F600");
    EXPECT_EQ(utf16_to_utf8(wide), text);

    EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD800))), std::nullopt);
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xDC00))), std::nullopt);
    EXPECT_EQ(utf16_to_utf8(u"a\xD83D"
                            u"b"),
              std::nullopt);
    EXPECT_EQ(utf8_to_utf16("a\xff"
                            "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf8_to_utf16("a\xe2\x82"), u"a\uFFFD");
}

}  // namespace
}  // namespace vantrel
