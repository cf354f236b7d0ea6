#include "lib/minisign_signature.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>

#include "minisign_tool_support.hpp"

namespace vantrel {
namespace {

using testing::encode_base64;

constexpr std::string_view invalid = "Invalid encoding in minisign data";

// Algorithm "ED", key id 1..8, signature 10..73 (each byte its own offset).
Bytes signature_line_bytes(std::size_t length = 74) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    if (length >= 2) {
        bytes[0] = 'E';
        bytes[1] = 'D';
    }
    return bytes;
}

Bytes global_bytes(std::size_t length = 64) {
    return Bytes(length, 0xC7);
}

std::string signature_text(std::string_view signature_line, std::string_view comment_line,
                           std::string_view global_line, std::string_view line_end = "\n") {
    std::string text = "untrusted comment: made by hand";
    for (const std::string_view line : {signature_line, comment_line, global_line}) {
        text += line_end;
        text += line;
    }
    return text + std::string(line_end);
}

std::string good_text(std::string_view line_end = "\n") {
    return signature_text(encode_base64(signature_line_bytes()), "trusted comment: hello world",
                          encode_base64(global_bytes()), line_end);
}

Result<MinisignSignature> read(std::string_view text) {
    return read_minisign_signature(as_bytes(text));
}

TEST(MinisignSignatureTest, ReadsTheFieldsOfTheFourLines) {
    for (const std::string_view line_end : {"\n", "\r\n"}) {
        const std::string text = good_text(line_end);
        const Result<MinisignSignature> signature = read(text);
        ASSERT_TRUE(signature) << signature.error().display();
        EXPECT_EQ(signature->algorithm, (std::array<std::uint8_t, 2>{'E', 'D'}));
        EXPECT_EQ(signature->key_id, (std::array<std::uint8_t, 8>{2, 3, 4, 5, 6, 7, 8, 9}));
        EXPECT_EQ(signature->signature.front(), 10);
        EXPECT_EQ(signature->signature.back(), 73);
        EXPECT_EQ(signature->trusted_comment, "hello world");
        EXPECT_TRUE(std::all_of(signature->global_signature.begin(),
                                signature->global_signature.end(),
                                [](std::uint8_t byte) { return byte == 0xC7; }));
    }
}

TEST(MinisignSignatureTest, AcceptsAndRefusesSignatureTexts) {
    const std::string line2 = encode_base64(signature_line_bytes());
    const std::string line4 = encode_base64(global_bytes());
    const std::string comment = "trusted comment: c";
    struct Case {
        std::string name;
        std::string text;
        bool readable;
    };
    const Case cases[] = {
        {"no final line end", "u\n" + line2 + "\n" + comment + "\n" + line4, true},
        {"lines after the fourth ignored", good_text() + "not base64 !!\n\xc3\xa9\n", true},
        {"empty trusted comment", signature_text(line2, "trusted comment: ", line4), true},
        {"legacy algorithm bytes are only read here",
         signature_text(encode_base64([] {
                            Bytes b = signature_line_bytes();
                            b[1] = 'd';
                            return b;
                        }()),
                        comment, line4),
         true},
        {"three lines", "u\n" + line2 + "\n" + comment + "\n", false},
        {"empty", "", false},
        {"signature line 73 bytes",
         signature_text(encode_base64(signature_line_bytes(73)), comment, line4), false},
        {"signature line 75 bytes",
         signature_text(encode_base64(signature_line_bytes(75)), comment, line4), false},
        {"global signature 63 bytes",
         signature_text(line2, comment, encode_base64(global_bytes(63))), false},
        {"global signature 65 bytes",
         signature_text(line2, comment, encode_base64(global_bytes(65))), false},
        {"signature line not base64", signature_text(line2 + "!", comment, line4), false},
        {"space after signature line", signature_text(line2 + " ", comment, line4), false},
        {"global line not base64", signature_text(line2, comment, "*" + line4), false},
        {"prefix without its blank", signature_text(line2, "trusted comment:c", line4), false},
        {"prefix only in part", signature_text(line2, "trusted comm", line4), false},
        {"lines swapped", signature_text(comment, line2, line4), false},
        {"CR alone is no line end", "u\r" + line2 + "\r\n" + comment + "\r\n" + line4, false},
    };
    for (const Case& c : cases) {
        const Result<MinisignSignature> signature = read(c.text);
        if (c.readable) {
            EXPECT_TRUE(signature) << c.name << ": " << signature.error().display();
        } else {
            ASSERT_FALSE(signature) << c.name;
            EXPECT_EQ(signature.error().stage(), Stage::Verification) << c.name;
            EXPECT_EQ(signature.error().detail(), invalid) << c.name;
        }
    }
}

TEST(MinisignSignatureTest, RefusesBytesThatAreNotUtf8AnywhereInTheFile) {
    const std::string text = good_text();  // 31 + 1 + 100 + 1 + 28 + 1 + 88 + 1 = 251 bytes
    ASSERT_EQ(text.size(), 251u);
    struct Case {
        std::string text;
        std::string_view detail;
    };
    const Case cases[] = {
        {"untrusted \xff comment\n" + text.substr(text.find('\n') + 1),
         "invalid utf-8 sequence of 1 bytes from index 10"},
        {text.substr(0, 160) + "\xe2\x82" + "x" + text.substr(160),
         "invalid utf-8 sequence of 2 bytes from index 160"},
        {text + "ignored line \xed\xa0\x80\n", "invalid utf-8 sequence of 1 bytes from index 264"},
        {text + "\xf0\x9f\x98", "incomplete utf-8 byte sequence from index 251"},
    };
    for (const Case& c : cases) {
        const Result<MinisignSignature> signature = read(c.text);
        ASSERT_FALSE(signature) << c.detail;
        EXPECT_EQ(signature.error().stage(), Stage::Verification);
        EXPECT_EQ(signature.error().detail(), c.detail);
    }
}

}  // namespace
}  // namespace vantrel
