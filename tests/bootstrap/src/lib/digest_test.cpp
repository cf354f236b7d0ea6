#include "lib/digest.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <stop_token>
#include <string>

#include "lib/concurrent_sha256.hpp"

#include "minisign_tool_support.hpp"

namespace vantrel {
namespace {

using testing::reference_tools_missing;
using testing::run_tool;
using testing::ToolScratch;

// Bytes that differ at every position, so that a hash that skips or repeats a block
// is caught.
Bytes patterned(std::size_t size) {
    Bytes bytes(size);
    std::uint32_t state = 0x9E3779B9u;
    for (std::uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

// The first word of a coreutils digest line.
std::string tool_digest(const char* tool, const std::filesystem::path& file) {
    const std::optional<Bytes> out = run_tool({tool, file.string()});
    if (!out) {
        return tool + std::string(" failed");
    }
    const std::string line(out->begin(), out->end());
    return line.substr(0, line.find(' '));
}

TEST(DigestTest, Sha256MatchesPublishedVectors) {
    struct Case {
        std::string input;
        std::string_view hex;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lower_hex(sha256(as_bytes(c.input))), c.hex) << c.input.substr(0, 20);
    }
}

TEST(DigestTest, Blake2b512MatchesPublishedVectors) {
    struct Case {
        std::string_view input;
        std::string_view hex;
    };
    const Case cases[] = {
        {"",
         "786a02f742015903c6c6fd852552d272912f4740e15847618a86e217f71f5419"
         "d25e1031afee585313896444934eb04b903a685b1448b755d56f701afe9be2ce"},
        {"abc",
         "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
         "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lower_hex(blake2b_512(as_bytes(c.input))), c.hex);
    }
}

TEST(DigestTest, BothDigestsEqualTheCoreutilsToolsAtBlockBoundaries) {
    if (const auto missing = reference_tools_missing()) {
        GTEST_SKIP() << *missing;
    }
    const ToolScratch scratch;
    // One short of, at and past the padding and block edges of both algorithms.
    for (const std::size_t size :
         {1u, 55u, 56u, 63u, 64u, 65u, 111u, 112u, 127u, 128u, 129u, 1048576u + 17u}) {
        const Bytes data = patterned(size);
        const std::filesystem::path file = scratch.write("data", data);
        EXPECT_EQ(lower_hex(sha256(data)), tool_digest("sha256sum", file)) << size;
        EXPECT_EQ(lower_hex(blake2b_512(data)), tool_digest("b2sum", file)) << size;
    }
}

// Sizes around SHA-256's block and padding edges and around the chunks that a stop
// request is looked at between (1 MiB).
constexpr std::size_t sha256_sizes[] = {0,  1,    55,      56,      63,      64,
                                        65, 1000, 1048575, 1048576, 1048577, 3145733};

Bytes random_bytes(std::size_t size) {
    require_sodium();
    Bytes bytes(size);
    if (size != 0)  // an empty vector's data may be null, which libsodium may not take
        randombytes_buf(bytes.data(), bytes.size());
    return bytes;
}

Sha256Digest libsodium_sha256(ByteView data) {
    Sha256Digest digest{};
    crypto_hash_sha256(digest.data(), data.data(), data.size());
    return digest;
}

TEST(DigestTest, Sha256EqualsLibsodiumOnRandomInputs) {
    for (const std::size_t size : sha256_sizes) {
        const Bytes data = random_bytes(size);
        const Sha256Digest expected = libsodium_sha256(data);
        EXPECT_EQ(sha256(data), expected) << size;
        EXPECT_EQ(sha256_unless_stopped(data, std::stop_source().get_token()), expected) << size;
        ConcurrentSha256 concurrent(data);
        EXPECT_EQ(concurrent.digest(), expected) << size;
        EXPECT_EQ(concurrent.digest(), expected) << size << ", asked again";
    }
}

TEST(DigestTest, Sha256GivesNothingOnceStopped) {
    std::stop_source stop;
    stop.request_stop();
    for (const std::size_t size : {1u, 1048577u})
        EXPECT_EQ(sha256_unless_stopped(random_bytes(size), stop.get_token()), std::nullopt)
            << size;
}

TEST(DigestTest, LowerHexWritesTwoLowerCaseDigitsPerByte) {
    const Bytes bytes = {0x00, 0x0F, 0xF0, 0xFF, 0xA5};
    EXPECT_EQ(lower_hex(bytes), "000ff0ffa5");
    EXPECT_EQ(lower_hex({}), "");
}

}  // namespace
}  // namespace vantrel
