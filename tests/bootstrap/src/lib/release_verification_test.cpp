#include "lib/release_verification.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lib/base64.hpp"
#include "lib/digest.hpp"
#include "lib/install_names.hpp"
#include "lib/release_limits.hpp"
#include "lib/text_lines.hpp"
#include "minisign_tool_support.hpp"

namespace vantrel {
namespace {

using testing::encode_base64;
using testing::minisign;
using testing::reference_tools_missing;
using testing::run_tool;
using testing::SignOptions;
using testing::TestKey;
using testing::ToolScratch;

constexpr std::string_view invalid_encoding = "Invalid encoding in minisign data";
constexpr std::string_view unsupported =
    "This signature algorithm is not supported by this implementation";
constexpr std::string_view different_key =
    "The signature was created with a different key than the one provided";
constexpr std::string_view legacy = "Unexpected signature algorithm";
constexpr std::string_view verification_failed = "The signature verification failed";
constexpr std::string_view too_large = "Package exceeds the setup size limit.";
constexpr std::string_view mismatch = "SHA-256 checksum or archive filename does not match.";

constexpr std::string_view version = "0.4.2";
const std::string archive = expected_windows_artifact(version).archive;

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// The smallest image the executable check accepts: an MZ header whose e_lfanew
// points at a PE signature for x86-64.
Bytes launcher_image() {
    Bytes image(128, 0x00);
    image[0] = 'M';
    image[1] = 'Z';
    image[60] = 64;
    std::memcpy(&image[64], "PE\0\0\x64\x86", 6);
    image[100] = 0x5A;  // something of its own, to see it come back
    return image;
}

// A package as the release tooling builds it: tar with the launcher, gzip around.
Bytes package_of(ByteView launcher) {
    const ToolScratch scratch;
    scratch.write(launcher_file_name, launcher);
    if (!run_tool(
            {"tar", "--format=ustar", "-czf", "package.tar.gz", std::string(launcher_file_name)},
            scratch.folder())) {
        ADD_FAILURE() << "tar failed";
        return {};
    }
    return testing::read_file(scratch.path("package.tar.gz"));
}

// What sha256sum writes for the package stored under the archive name.
std::string sha256sum_line(ByteView package, bool binary_mode = false,
                           std::string_view name = archive) {
    const ToolScratch scratch;
    scratch.write(name, package);
    std::vector<std::string> argv = {"sha256sum"};
    if (binary_mode) {
        argv.push_back("-b");
    }
    argv.push_back(std::string(name));
    const std::optional<Bytes> line = run_tool(argv, scratch.folder());
    if (!line) {
        ADD_FAILURE() << "sha256sum failed";
    }
    return line ? std::string(line->begin(), line->end()) : std::string();
}

std::string text_of(ByteView bytes) {
    return std::string(as_text(bytes));
}

// The lines of a signature file, to edit one and join them again with LF.
std::vector<std::string> lines_of(ByteView signature_file) {
    std::vector<std::string> lines;
    for (const std::string_view line : split_lines(as_text(signature_file))) {
        lines.emplace_back(line);
    }
    return lines;
}

Bytes joined(const std::vector<std::string>& lines, std::string_view line_end = "\n") {
    std::string text;
    for (const std::string& line : lines) {
        text += line + std::string(line_end);
    }
    return bytes_of(text);
}

Bytes with_line(ByteView signature_file, std::size_t index, std::string line) {
    std::vector<std::string> lines = lines_of(signature_file);
    lines.at(index) = std::move(line);
    return joined(lines);
}

// Re-encodes a base64 line (1: algorithm, key id, signature; 3: global signature)
// after changing its bytes.
Bytes with_decoded_line(ByteView signature_file, std::size_t index,
                        const std::function<void(Bytes&)>& change) {
    std::vector<std::string> lines = lines_of(signature_file);
    Bytes decoded = decode_base64(lines.at(index)).value_or(Bytes{});
    change(decoded);
    lines.at(index) = encode_base64(decoded);
    return joined(lines);
}

Manifest manifest_of(std::string_view release_version) {
    return Manifest{manifest_schema, std::string(release_version),
                    Platforms{expected_windows_artifact(release_version), std::nullopt}};
}

class ReleaseToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto missing = reference_tools_missing()) {
            GTEST_SKIP() << *missing;
        }
        Result<PublicKey> decoded = decode_public_key(testing::public_key_text(TestKey::Release));
        ASSERT_TRUE(decoded) << decoded.error().display();
        key_ = std::move(decoded).value();
    }

    void expect_outcome(const std::string& name, const Status& status,
                        std::string_view detail) const {
        if (detail.empty()) {
            EXPECT_TRUE(status) << name << ": " << status.error().display();
            return;
        }
        ASSERT_FALSE(status) << name;
        EXPECT_EQ(status.error().stage(), Stage::Verification) << name;
        EXPECT_EQ(status.error().detail(), detail) << name;
    }

    PublicKey key_{};
};

using VerifySignatureTest = ReleaseToolTest;

TEST_F(VerifySignatureTest, ChecksSignaturesOfTheRealTool) {
    const Bytes data = bytes_of("release data\n");
    const Bytes good = minisign(data);
    const Bytes legacy_good = minisign(data, SignOptions{.legacy = true});
    const std::vector<std::string> good_lines = lines_of(good);
    struct Case {
        std::string name;
        Bytes data;
        Bytes signature;
        std::string_view detail;  // empty: verifies
    };
    const Case cases[] = {
        {"prehashed, right key", data, good, ""},
        {"CR LF line ends", data, joined(lines_of(good), "\r\n"), ""},
        {"untrusted comment edited", data, with_line(good, 0, "untrusted comment: edited"), ""},
        {"empty data", {}, minisign({}), ""},
        {"empty trusted comment", data, minisign(data, SignOptions{.trusted_comment = ""}), ""},
        {"other data", bytes_of("release data!\n"), good, verification_failed},
        {"legacy, right key", data, legacy_good, legacy},
        {"legacy, other key", data,
         minisign(data, SignOptions{.key = TestKey::Other, .legacy = true}), different_key},
        {"prehashed, other key", data, minisign(data, SignOptions{.key = TestKey::Other}),
         different_key},
        {"trusted comment edited", data, with_line(good, 2, good_lines[2] + "\tfile:other"),
         verification_failed},
        {"capital T in the prefix", data, with_line(good, 2, "T" + good_lines[2].substr(1)),
         invalid_encoding},
        {"signature byte changed", data,
         with_decoded_line(good, 1, [](Bytes& b) { b[40] ^= 0x01; }), verification_failed},
        {"global signature byte changed", data,
         with_decoded_line(good, 3, [](Bytes& b) { b[0] ^= 0x80; }), verification_failed},
        {"legacy made to look prehashed", data,
         with_decoded_line(legacy_good, 1, [](Bytes& b) { b[1] = 'D'; }), verification_failed},
        {"algorithm EX", data, with_decoded_line(good, 1, [](Bytes& b) { b[1] = 'X'; }),
         unsupported},
        {"algorithm ed", data, with_decoded_line(good, 1, [](Bytes& b) { b[0] = 'e'; }),
         unsupported},
        {"unknown algorithm, other key", data,
         with_decoded_line(minisign(data, SignOptions{.key = TestKey::Other}), 1,
                           [](Bytes& b) { b[1] = 'x'; }),
         unsupported},
    };
    for (const Case& c : cases) {
        expect_outcome(c.name, verify_signature(key_, c.data, c.signature), c.detail);
    }
}

TEST_F(VerifySignatureTest, RefusesSignatureFilesThatAreNotUtf8) {
    const Bytes data = bytes_of("release data\n");
    const std::string good = text_of(minisign(data));
    const std::size_t third_line = good.find("trusted comment: ", 1);
    struct Case {
        std::string text;
        std::string detail;
    };
    const Case cases[] = {
        {"untrusted \x80" + good.substr(good.find(':')),
         "invalid utf-8 sequence of 1 bytes from index 10"},
        {good.substr(0, third_line + 17) + "\xc3(" + good.substr(third_line + 17),
         "invalid utf-8 sequence of 1 bytes from index " + std::to_string(third_line + 17)},
        {good + "\xe2\x82",
         "incomplete utf-8 byte sequence from index " + std::to_string(good.size())},
    };
    for (const Case& c : cases) {
        expect_outcome(c.detail, verify_signature(key_, data, bytes_of(c.text)), c.detail);
    }
}

class VerifyReleaseTest : public ReleaseToolTest {
  protected:
    void SetUp() override {
        ReleaseToolTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        launcher_ = launcher_image();
        package_ = package_of(launcher_);
        ASSERT_FALSE(package_.empty());
        checksum_text_ = sha256sum_line(package_);
        digest_ = checksum_text_.substr(0, 64);
        ASSERT_EQ(digest_, lower_hex(sha256(package_)));
    }

    // The four files, both signatures made by the tool for what they cover.
    ReleaseFiles release(Bytes package, Bytes checksum) const {
        ReleaseFiles files;
        files.signature = minisign(package);
        files.checksum_signature = minisign(checksum);
        files.package = std::move(package);
        files.checksum = std::move(checksum);
        return files;
    }
    ReleaseFiles release_with_checksum(const std::string& checksum_text) const {
        return release(package_, bytes_of(checksum_text));
    }

    Result<Bytes> verify(const ReleaseFiles& files) const {
        return verify_release(manifest_of(version), files, key_);
    }

    void expect_release_outcome(const std::string& name, const ReleaseFiles& files,
                                std::string_view detail) const {
        const Result<Bytes> launcher = verify(files);
        if (detail.empty()) {
            ASSERT_TRUE(launcher) << name << ": " << launcher.error().display();
            EXPECT_EQ(*launcher, launcher_) << name;
            return;
        }
        ASSERT_FALSE(launcher) << name;
        EXPECT_EQ(launcher.error().stage(), Stage::Verification) << name;
        EXPECT_EQ(launcher.error().detail(), detail) << name;
    }

    Bytes launcher_;
    Bytes package_;
    std::string checksum_text_;  // as sha256sum writes it in text mode
    std::string digest_;
};

TEST_F(VerifyReleaseTest, ChecksumFileFormsAndMismatches) {
    const std::string name(archive);
    std::string upper = digest_;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const Bytes other_package = package_of(bytes_of("MZ not the launcher"));
    const std::string bad_utf8_after_name =
        "invalid utf-8 sequence of 1 bytes from index " + std::to_string(66 + name.size());
    struct Case {
        std::string name;
        std::string checksum;
        std::string_view detail;
    };
    const Case cases[] = {
        {"sha256sum text mode", checksum_text_, ""},
        {"sha256sum binary mode", sha256sum_line(package_, true), ""},
        {"tab and CR LF", digest_ + "\t" + name + "\r\n", ""},
        {"no final line feed", digest_ + " " + name, ""},
        {"third word", digest_ + "  " + name + " vantrel-launcher.exe\n", mismatch},
        {"line for a second file", checksum_text_ + sha256sum_line(other_package, false, "b.gz"),
         mismatch},
        {"only the digest", digest_ + "\n", mismatch},
        {"dot-slash", digest_ + "  ./" + name + "\n", mismatch},
        {"folder", digest_ + "  launcher/" + name + "\n", mismatch},
        {"two asterisks", digest_ + " **" + name + "\n", mismatch},
        {"upper-case digest", upper + "  " + name + "\n", mismatch},
        {"names a different package",
         sha256sum_line(package_, false, expected_windows_artifact("0.4.1").archive), mismatch},
        {"digest of a different package", sha256sum_line(other_package), mismatch},
        {"not UTF-8", digest_ + "  " + name + "\xc3\n", bad_utf8_after_name},
    };
    for (const Case& c : cases) {
        expect_release_outcome(c.name, release_with_checksum(c.checksum), c.detail);
    }
}

TEST_F(VerifyReleaseTest, EveryUnicodeWhiteSpaceCharacterSeparatesTheWords) {
    const std::string_view separators[] = {
        "\t",           "\n",           "\v",
        "\f",           "\r",           " ",
        "\xc2\x85",     "\xc2\xa0",     "\xe1\x9a\x80",
        "\xe2\x80\x80", "\xe2\x80\x81", "\xe2\x80\x82",
        "\xe2\x80\x83", "\xe2\x80\x84", "\xe2\x80\x85",
        "\xe2\x80\x86", "\xe2\x80\x87", "\xe2\x80\x88",
        "\xe2\x80\x89", "\xe2\x80\x8a", "\xe2\x80\xa8",
        "\xe2\x80\xa9", "\xe2\x80\xaf", "\xe2\x81\x9f",
        "\xe3\x80\x80",
    };
    for (const std::string_view separator : separators) {
        const std::string checksum =
            std::string(separator) + digest_ + std::string(separator) + archive;
        expect_release_outcome(::testing::PrintToString(separator), release_with_checksum(checksum),
                               "");
    }
    // A character that merely looks blank joins digest and name into one word.
    expect_release_outcome("zero width space",
                           release_with_checksum(digest_ + "\xe2\x80\x8b" + archive), mismatch);
}

TEST_F(VerifyReleaseTest, StepsRunInOrderAndTheFirstFailureIsReported) {
    const ReleaseFiles good = release_with_checksum(checksum_text_);
    const std::string bad_checksum_signature = "invalid utf-8 sequence of 1 bytes from index " +
                                               std::to_string(good.checksum_signature.size());
    const auto changed = [&good](const std::function<void(ReleaseFiles&)>& change) {
        ReleaseFiles files = good;
        change(files);
        return files;
    };
    struct Case {
        std::string name;
        ReleaseFiles files;
        std::string_view detail;
    };
    const Case cases[] = {
        {"as published", good, ""},
        {"package byte changed: its signature fails before the checksum",
         changed([](ReleaseFiles& f) { f.package[f.package.size() / 2] ^= 0x01; }),
         verification_failed},
        {"package signed with the other key", changed([](ReleaseFiles& f) {
             f.signature = minisign(f.package, SignOptions{.key = TestKey::Other});
         }),
         different_key},
        {"legacy package signature",
         changed([](ReleaseFiles& f) { f.signature = minisign(f.package, {.legacy = true}); }),
         legacy},
        {"checksum signature with the other key", changed([](ReleaseFiles& f) {
             f.checksum_signature = minisign(f.checksum, SignOptions{.key = TestKey::Other});
         }),
         different_key},
        {"checksum edited after signing",
         changed([](ReleaseFiles& f) { f.checksum.push_back('\n'); }), verification_failed},
        {"package signature comment edited", changed([](ReleaseFiles& f) {
             f.signature = with_line(f.signature, 2, "trusted comment: edited");
         }),
         verification_failed},
        {"package signature not UTF-8: before the checksum signature is read",
         changed([](ReleaseFiles& f) {
             f.signature.insert(f.signature.begin() + 3, 0xFF);
             f.checksum_signature.clear();
         }),
         "invalid utf-8 sequence of 1 bytes from index 3"},
        {"checksum signature empty", changed([](ReleaseFiles& f) { f.checksum_signature.clear(); }),
         invalid_encoding},
        {"checksum signature not UTF-8, checksum file not UTF-8 either",
         changed([](ReleaseFiles& f) {
             f.checksum.insert(f.checksum.begin(), 0xC0);
             f.checksum_signature.push_back(0xFE);
         }),
         bad_checksum_signature},
    };
    for (const Case& c : cases) {
        expect_release_outcome(c.name, c.files, c.detail);
    }
}

TEST_F(VerifyReleaseTest, SizeLimitsComeBeforeEverythingElse) {
    const ReleaseFiles good = release_with_checksum(checksum_text_);
    // Filling with blanks keeps the files valid: the checksum words and the ignored
    // lines after a signature's fourth line.
    std::string full_checksum = checksum_text_;
    full_checksum.resize(companion_size_limit, ' ');
    ReleaseFiles at_companion_limits = release_with_checksum(full_checksum);
    for (Bytes* signature :
         {&at_companion_limits.signature, &at_companion_limits.checksum_signature}) {
        signature->resize(companion_size_limit, ' ');
    }
    expect_release_outcome("companions at their limits", at_companion_limits, "");

    // One byte over any limit fails even where nothing else is valid.
    const auto garbage = [](std::size_t size) { return Bytes(size, 0xFF); };
    const ReleaseFiles over[] = {
        {garbage(package_size_limit + 1), good.checksum, good.signature, good.checksum_signature},
        {good.package, garbage(companion_size_limit + 1), {}, {}},
        {{}, {}, garbage(companion_size_limit + 1), {}},
        {good.package, good.checksum, good.signature, garbage(companion_size_limit + 1)},
    };
    for (const ReleaseFiles& files : over) {
        expect_release_outcome("over a limit", files, too_large);
    }
}

TEST_F(VerifyReleaseTest, PackageAtExactlyTheLimitIsVerified) {
    Bytes package(package_size_limit);
    std::uint32_t state = 1;
    for (std::uint8_t& byte : package) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    const ReleaseFiles files =
        release(std::move(package), bytes_of(std::string(64, '0') + "  " + archive));
    // The package's signature is checked, and the checksum compared with it.
    expect_release_outcome("32 MiB, wrong digest", files, mismatch);

    ReleaseFiles listed = files;
    listed.checksum = bytes_of(lower_hex(sha256(files.package)) + "  " + archive);
    listed.checksum_signature = minisign(listed.checksum);
    // Verification passes; the bytes are no package, so extraction refuses them.
    const Result<Bytes> launcher = verify(listed);
    ASSERT_FALSE(launcher);
    EXPECT_EQ(launcher.error().stage(), Stage::Extraction) << launcher.error().display();
}

}  // namespace
}  // namespace vantrel
