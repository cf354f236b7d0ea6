#include "lib/public_key.hpp"

#include <gtest/gtest.h>

#include "lib/base64.hpp"
#include "lib/build_settings.hpp"
#include "lib/text_lines.hpp"
#include "minisign_tool_support.hpp"

namespace vantrel {
namespace {

using testing::encode_base64;

// Key bytes: algorithm, id 1..8, key 100..131.
Bytes key_bytes(std::string_view algorithm, std::size_t length = 42) {
    Bytes bytes(algorithm.begin(), algorithm.end());
    for (std::uint8_t i = 1; bytes.size() < 10; ++i)
        bytes.push_back(i);
    for (std::uint8_t i = 100; bytes.size() < 42; ++i)
        bytes.push_back(i);
    bytes.resize(length, 0xAB);
    return bytes;
}

std::string key_text(const Bytes& bytes, std::string_view line_end = "\r\n") {
    std::string text = "untrusted comment: test key";
    text += line_end;
    text += encode_base64(bytes);
    text += line_end;
    return text;
}

TEST(PublicKeyTest, DecodesFieldsInOrder) {
    const Result<PublicKey> key = decode_public_key(key_text(key_bytes("Ed")));
    ASSERT_TRUE(key) << key.error().display();
    EXPECT_EQ(key->untrusted_comment, "untrusted comment: test key");
    EXPECT_EQ(key->algorithm, (std::array<std::uint8_t, 2>{'E', 'd'}));
    EXPECT_EQ(key->key_id, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(key->key[0], 100);
    EXPECT_EQ(key->key[31], 131);
}

TEST(PublicKeyTest, AcceptsAndRefusesKeyTexts) {
    constexpr std::string_view invalid = "Invalid encoding in minisign data";
    constexpr std::string_view unsupported =
        "This signature algorithm is not supported by this implementation";
    const std::string good_line = encode_base64(key_bytes("Ed"));
    struct Case {
        std::string name;
        std::string text;
        std::string_view failure;  // empty: decodes
    };
    const Case cases[] = {
        {"crlf", key_text(key_bytes("Ed")), ""},
        {"lf", key_text(key_bytes("Ed"), "\n"), ""},
        {"prehashed algorithm bytes", key_text(key_bytes("ED")), ""},
        {"no final line end", "c\r\n" + good_line, ""},
        {"extra lines ignored", key_text(key_bytes("Ed")) + "garbage\r\nmore\r\n", ""},
        {"41 bytes", key_text(key_bytes("Ed", 41)), invalid},
        {"43 bytes", key_text(key_bytes("Ed", 43)), invalid},
        {"one line", "untrusted comment: only\r\n", invalid},
        {"empty", "", invalid},
        {"not base64", "c\r\n" + good_line.substr(0, 55) + "!\r\n", invalid},
        {"space in base64", "c\r\n " + good_line + "\r\n", invalid},
        {"cr alone is not a line end", "c\r" + good_line + "\r\n", invalid},
        {"other algorithm", key_text(key_bytes("EX")), unsupported},
        {"lower-case e", key_text(key_bytes("ed")), unsupported},
    };
    for (const Case& c : cases) {
        const Result<PublicKey> key = decode_public_key(c.text);
        if (c.failure.empty()) {
            EXPECT_TRUE(key) << c.name;
        } else {
            ASSERT_FALSE(key) << c.name;
            EXPECT_EQ(key.error().stage(), Stage::Verification) << c.name;
            EXPECT_EQ(key.error().detail(), c.failure) << c.name;
        }
    }
}

TEST(PublicKeyTest, LineEndsDoNotChangeTheKey) {
    const Result<PublicKey> crlf = decode_public_key(key_text(key_bytes("Ed")));
    const Result<PublicKey> lf = decode_public_key(key_text(key_bytes("Ed"), "\n"));
    ASSERT_TRUE(crlf && lf);
    EXPECT_EQ(crlf->key, lf->key);
    EXPECT_EQ(crlf->key_id, lf->key_id);
    EXPECT_EQ(crlf->untrusted_comment, lf->untrusted_comment);
}

TEST(PublicKeyTest, BuiltInKeyIsTheConfiguredKeyWithCrLfLineEnds) {
    const std::string_view built_in = built_in_release_key();
    EXPECT_TRUE(decode_public_key(built_in));
    EXPECT_TRUE(decode_public_key(built_in));  // stateless: decodes on every call

    const std::vector<std::string_view> lines = split_lines(built_in);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(built_in, std::string(lines[0]) + "\r\n" + std::string(lines[1]) + "\r\n");

    // The development build embeds the test key kept with the tests.
    const std::string file = testing::public_key_text(testing::TestKey::Release);
    const std::vector<std::string_view> file_lines = split_lines(file);
    ASSERT_EQ(file_lines.size(), 2u);
    EXPECT_EQ(lines[1], file_lines[1]);
}

TEST(Base64Test, DecodesOnlyCanonicalStandardBase64) {
    struct Case {
        std::string_view text;
        std::optional<std::string_view> bytes;
    };
    const Case cases[] = {
        {"", ""},
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"QUJD", "ABC"},
        {"+/+/", "\xfb\xff\xbf"},
        {"QQ", std::nullopt},    // padding required
        {"QR==", std::nullopt},  // unused bits set
        {"Q===", std::nullopt},
        {"QQ=A", std::nullopt},
        {"-_-_", std::nullopt},  // URL-safe alphabet
        {"QU JD", std::nullopt},
        {"QUJD\n", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto decoded = decode_base64(c.text);
        if (!c.bytes) {
            EXPECT_FALSE(decoded) << c.text;
        } else {
            ASSERT_TRUE(decoded) << c.text;
            EXPECT_EQ(std::string(decoded->begin(), decoded->end()), *c.bytes) << c.text;
        }
    }
}

TEST(TextLinesTest, SplitsAtLineFeedsAndDropsTheCarriageReturnBeforeThem) {
    using Lines = std::vector<std::string_view>;
    struct Case {
        std::string_view text;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\rb\n", {"a\rb"}},
        {"a\r\r\n", {"a\r"}},
        {"\n", {""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(split_lines(c.text), c.lines) << c.text;
}

}  // namespace
}  // namespace vantrel
