#include "windows/verified_cache_file.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include "layout_test_support.hpp"
#include "support/windows_test_support.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

using testing::folder_entries;
using testing::read_file;
using testing::ScratchFolder;
using testing::write_file;

Bytes bytes_of(std::string_view text) {
    const ByteView view = as_bytes(text);
    return Bytes(view.begin(), view.end());
}

ReleaseFiles release(std::string_view tag, std::size_t package_size) {
    ReleaseFiles files;
    files.package = Bytes(package_size);
    for (std::size_t i = 0; i < package_size; ++i)
        files.package[i] = std::uint8_t(i * 31 + 7);
    files.checksum =
        bytes_of(std::string(64, 'a') + "  vantrel-launcher-" + std::string(tag) + ".tar.gz\n");
    files.signature = bytes_of("untrusted comment: signature\nRWQ" + std::string(tag) + "\n");
    files.checksum_signature =
        bytes_of("untrusted comment: checksum\nRWQ" + std::string(tag) + "\n");
    return files;
}

bool operator==(const ReleaseFiles& a, const ReleaseFiles& b) {
    return a.package == b.package && a.checksum == b.checksum && a.signature == b.signature &&
           a.checksum_signature == b.checksum_signature;
}

class VerifiedCacheFileTest : public ::testing::Test {
  protected:
    std::wstring folder() const { return normalized_path(scratch.path()); }
    std::wstring cache() const { return scratch.file(L".launcher-verified-cache"); }
    ScratchFolder scratch;
};

TEST_F(VerifiedCacheFileTest, WrittenRecordsReadBackAndReplaceTheOldCache) {
    const ReleaseFiles releases[] = {release("0.3.0", 300000), release("0.3.1", 0), ReleaseFiles{}};
    for (const ReleaseFiles& files : releases) {
        const IoStatus written = write_verified_cache(cache(), files);
        ASSERT_TRUE(written) << written.error().text();
        const auto read = read_verified_cache(cache());
        ASSERT_TRUE(read) << read.error().text();
        EXPECT_TRUE(*read == files);

        const std::size_t expected_size = 8 + 16 + files.package.size() + files.checksum.size() +
                                          files.signature.size() + files.checksum_signature.size();
        EXPECT_EQ(read_file(cache())->size(), expected_size);
        EXPECT_FALSE(GetFileAttributesW(cache().c_str()) & FILE_ATTRIBUTE_TEMPORARY);
        EXPECT_EQ(folder_entries(folder()), std::vector<std::wstring>{L".launcher-verified-cache"});
    }
}

TEST_F(VerifiedCacheFileTest, SameRecordsGiveTheSameBytes) {
    const ReleaseFiles files = release("0.3.0", 5000);
    ASSERT_TRUE(write_verified_cache(cache(), files));
    const auto first = read_file(cache());
    ASSERT_TRUE(write_verified_cache(cache(), files));
    EXPECT_EQ(read_file(cache()), first);
    EXPECT_EQ(first->substr(0, 12), std::string("VLCACHE1\x88\x13\0\0", 12));
}

TEST_F(VerifiedCacheFileTest, ReadingGoesToTheEndOfTheFile) {
    ASSERT_TRUE(write_verified_cache(cache(), release("0.3.0", 10)));
    const std::string valid = *read_file(cache());

    write_file(cache(), valid + "x");
    const auto trailing = read_verified_cache(cache());
    ASSERT_FALSE(trailing);
    EXPECT_EQ(trailing.error().text(), "Trailing cache data");

    write_file(cache(), valid.substr(0, valid.size() - 1));
    EXPECT_FALSE(read_verified_cache(cache()));

    std::string wrong_magic = valid;
    wrong_magic[7] = '2';
    write_file(cache(), wrong_magic);
    EXPECT_EQ(read_verified_cache(cache()).error().text(), "Invalid cache");
}

TEST_F(VerifiedCacheFileTest, ReadingFailsWithTheSystemTextWhenThereIsNoFile) {
    const auto read = read_verified_cache(cache());
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().text(), system_error_text(ERROR_FILE_NOT_FOUND));
}

TEST_F(VerifiedCacheFileTest, ReadingSharesTheFileWithOtherReadersAndWriters) {
    const ReleaseFiles files = release("0.3.0", 100);
    ASSERT_TRUE(write_verified_cache(cache(), files));
    std::string failure;
    auto other = testing::hold_open(cache(), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    failure);
    ASSERT_TRUE(other) << failure;
    const auto read = read_verified_cache(cache());
    ASSERT_TRUE(read) << read.error().text();
    EXPECT_TRUE(*read == files);
}

TEST_F(VerifiedCacheFileTest, AFailedWriteKeepsTheOldCacheAndLeavesNoTemporary) {
    const ReleaseFiles old_files = release("0.2.9", 100);
    ASSERT_TRUE(write_verified_cache(cache(), old_files));
    const std::string old_cache = *read_file(cache());

    // Too large to be read back: refused before anything is replaced.
    ReleaseFiles oversized = release("0.3.0", 10);
    oversized.signature.resize(16385);
    const IoStatus too_large = write_verified_cache(cache(), oversized);
    ASSERT_FALSE(too_large);
    EXPECT_EQ(too_large.error().text(), "Cache too large");
    EXPECT_EQ(read_file(cache()), old_cache);
    EXPECT_EQ(folder_entries(folder()), std::vector<std::wstring>{L".launcher-verified-cache"});

    // Another process has the old cache open without delete sharing.
    std::string failure;
    auto reader = testing::hold_open(cache(), FILE_SHARE_READ, failure);
    ASSERT_TRUE(reader) << failure;
    const IoStatus blocked = write_verified_cache(cache(), release("0.3.0", 10));
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().text(), system_error_text(ERROR_SHARING_VIOLATION));
    reader->stop();
    EXPECT_EQ(read_file(cache()), old_cache);
    EXPECT_EQ(folder_entries(folder()), std::vector<std::wstring>{L".launcher-verified-cache"});
}

TEST_F(VerifiedCacheFileTest, AMissingFolderFailsWithTheSystemText) {
    const IoStatus written =
        write_verified_cache(scratch.file(L"bin\\.launcher-verified-cache"), release("0.3.0", 1));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().text(), system_error_text(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace vantrel
