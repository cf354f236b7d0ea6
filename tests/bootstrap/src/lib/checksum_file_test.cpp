#include "lib/checksum_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/digest.hpp"

namespace vantrel {
namespace {

constexpr std::string_view archive = "vantrel-launcher-0.4.2-windows-x86_64.tar.gz";
constexpr std::string_view mismatch = "SHA-256 checksum or archive filename does not match.";

const std::string package = "package bytes \x01\x02\x03";

std::string digest_of(std::string_view bytes) {
    return lower_hex(sha256(as_bytes(bytes)));
}

Status check(std::string_view checksum_file) {
    return check_checksum_file(as_bytes(checksum_file), archive, sha256(as_bytes(package)));
}

TEST(WhiteSpaceSplitTest, SplitsAtRunsAndIgnoresTheEnds) {
    using Words = std::vector<std::string_view>;
    struct Case {
        std::string_view text;
        Words words;
    };
    const Case cases[] = {
        {"", {}},
        {" \t\r\n", {}},
        {"one", {"one"}},
        {"  one  two\r\n", {"one", "two"}},
        {"a\xe2\x80\x83\xe3\x80\x80 b", {"a", "b"}},  // mixed run of three
        {"\xc2\xa0"
         "a"
         "\xc2\x85",
         {"a"}},
        {"\xc3\xa9t\xc3\xa9 caf\xc3\xa9", {"\xc3\xa9t\xc3\xa9", "caf\xc3\xa9"}},
        // Ends inside U+2000; the byte past the end would make it white space.
        {std::string_view("a \xe2\x80\x80", 4), {"a", "\xe2\x80"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_at_white_space(c.text), c.words) << c.text;
    }
}

TEST(WhiteSpaceSplitTest, CharactersWithoutTheWhiteSpacePropertyStayInTheWord) {
    const std::string_view look_alikes[] = {
        "\x1c",  // information separators are not Unicode white space
        "\x1f",
        "\xe1\xa0\x8e",  // U+180E MONGOLIAN VOWEL SEPARATOR
        "\xe2\x80\x8b",  // U+200B ZERO WIDTH SPACE
        "\xe2\x81\xa0",  // U+2060 WORD JOINER
        "\xef\xbb\xbf",  // U+FEFF
        "\xc2\xad",      // U+00AD SOFT HYPHEN
        "\xe2\x80\x8c",  // U+200C, right after the U+2000..U+200A range
        "\xe2\x80\xaa",  // U+202A, between U+2029 and U+202F
        "\xe3\x80\x81",  // U+3001
    };
    for (const std::string_view inner : look_alikes) {
        const std::string text = "a" + std::string(inner) + "b";
        EXPECT_EQ(split_at_white_space(text), std::vector<std::string_view>{text})
            << ::testing::PrintToString(inner);
    }
}

TEST(ChecksumFileTest, ComparesTheWordsExactly) {
    const std::string digest = digest_of(package);
    std::string other_digest = digest;
    other_digest.back() = other_digest.back() == '0' ? '1' : '0';
    const std::string name(archive);

    struct Case {
        std::string name;
        std::string text;
        bool passes;
    };
    const Case cases[] = {
        {"white space around", "\n " + digest + " \t " + name + "\n\n", true},
        {"empty", "", false},
        {"name first", name + "  " + digest, false},
        {"asterisk after the name", digest + " " + name + "*", false},
        {"other digest", other_digest + "  " + name, false},
        {"digest one character short", digest.substr(1) + "  " + name, false},
        {"name differs in case", digest + "  " + name.substr(0, name.size() - 2) + "GZ", false},
    };
    for (const Case& c : cases) {
        const Status status = check(c.text);
        if (c.passes) {
            EXPECT_TRUE(status) << c.name << ": " << status.error().display();
        } else {
            ASSERT_FALSE(status) << c.name;
            EXPECT_EQ(status.error().stage(), Stage::Verification) << c.name;
            EXPECT_EQ(status.error().detail(), mismatch) << c.name;
        }
    }
}

TEST(ChecksumFileTest, RefusesBytesThatAreNotUtf8WithTheirIndex) {
    const std::string line = digest_of(package) + "  ";  // 66 bytes
    struct Case {
        std::string text;
        std::string_view detail;
    };
    const Case cases[] = {
        {line + "\xff" + std::string(archive), "invalid utf-8 sequence of 1 bytes from index 66"},
        {line + std::string(archive) + "\xf0\x9f\x98" + "x",
         "invalid utf-8 sequence of 3 bytes from index 110"},
        {line + std::string(archive) + "\n\xe2\x80",
         "incomplete utf-8 byte sequence from index 111"},
        {"\xc0\xaf" + line, "invalid utf-8 sequence of 1 bytes from index 0"},
    };
    for (const Case& c : cases) {
        const Status status = check(c.text);
        ASSERT_FALSE(status) << c.detail;
        EXPECT_EQ(status.error().stage(), Stage::Verification);
        EXPECT_EQ(status.error().detail(), c.detail);
    }
}

}  // namespace
}  // namespace vantrel
