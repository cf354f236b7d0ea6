#include "windows/file_services.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "layout_test_support.hpp"
#include "support/windows_test_support.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

using testing::exists;
using testing::folder_entries;
using testing::read_file;
using testing::ScratchFolder;
using testing::write_file;

// Endless data in pieces of at most piece bytes; counts what was taken.
class EndlessSource final : public ByteSource {
  public:
    explicit EndlessSource(std::size_t piece) : piece_(piece) {}

    IoResult<std::size_t> read(std::span<std::uint8_t> buffer) override {
        const std::size_t count = std::min(buffer.size(), piece_);
        std::fill_n(buffer.begin(), count, std::uint8_t('x'));
        taken += count;
        return count;
    }

    std::size_t taken = 0;

  private:
    std::size_t piece_;
};

class FailingSource final : public ByteSource {
  public:
    IoResult<std::size_t> read(std::span<std::uint8_t>) override {
        return IoError::raised("disk on fire");
    }
};

TEST(ReadLimitedTest, TheLimitItselfFitsOneByteMoreDoesNot) {
    struct Case {
        std::size_t size;
        std::size_t limit;
        bool fits;
    };
    const Case cases[] = {{0, 0, true},        {1, 0, false},          {4096, 4096, true},
                          {4097, 4096, false}, {200000, 200000, true}, {200001, 200000, false},
                          {10, 16384, true}};
    for (const Case& c : cases) {
        Bytes data(c.size);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = std::uint8_t(i * 7);
        MemorySource source(data);
        const auto read = read_limited(source, c.limit);
        ASSERT_EQ(read.ok(), c.fits) << c.size << " " << c.limit;
        if (read) {
            EXPECT_EQ(*read, data);
        } else {
            EXPECT_EQ(read.error().text(), "File exceeds setup's size limit");
        }
    }
}

TEST(ReadLimitedTest, ReadsNoMoreThanOneBytePastTheLimit) {
    for (const std::size_t piece : {std::size_t(1), std::size_t(1000), std::size_t(1) << 20}) {
        EndlessSource source(piece);
        const auto read = read_limited(source, 100000);
        ASSERT_FALSE(read);
        EXPECT_EQ(source.taken, 100001u) << piece;
    }
}

TEST(ReadLimitedTest, ReadFailuresComeBack) {
    FailingSource source;
    const auto read = read_limited(source, 10);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().text(), "disk on fire");
}

class FileServicesTest : public ::testing::Test {
  protected:
    std::wstring folder() const { return normalized_path(scratch.path()); }
    ScratchFolder scratch;
};

UniqueHandle open_reading(const std::wstring& path) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
}

// No other handle is open on the file when it can be opened with share mode 0.
bool nobody_has_open(const std::wstring& path) {
    return UniqueHandle(
               CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
        .valid();
}

TEST_F(FileServicesTest, ReadLimitedReadsAFileAndClosesIt) {
    const std::wstring path = scratch.file(L"capture.txt");
    const std::string content(5000, 'v');
    write_file(path, content);
    for (const auto& [limit, fits] :
         {std::pair{std::size_t(5000), true}, std::pair{std::size_t(4096), false}}) {
        UniqueHandle file = open_reading(path);
        ASSERT_TRUE(file);
        const auto read = read_limited(std::move(file), limit);
        ASSERT_EQ(read.ok(), fits) << limit;
        if (fits) {
            EXPECT_EQ(as_text(*read), content);
        }
        EXPECT_TRUE(nobody_has_open(path));
    }
}

TEST_F(FileServicesTest, MoveReplacing) {
    const std::wstring from = scratch.file(L"new.exe");
    const std::wstring to = scratch.file(L"vantrel-launcher.exe");
    write_file(from, "new");
    write_file(to, "old");
    const IoStatus moved = move_replacing(from, to);
    ASSERT_TRUE(moved) << moved.error().text();
    EXPECT_EQ(read_file(to), "new");
    EXPECT_FALSE(exists(from));

    const IoStatus missing = move_replacing(from, to);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().text(), system_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(read_file(to), "new");
}

TEST_F(FileServicesTest, RestoreCopiesTheBackupWithItsAttributes) {
    const std::wstring dest = scratch.file(L"vantrel-launcher.exe");
    ASSERT_TRUE(CreateDirectoryW(scratch.file(L"run").c_str(), nullptr));
    const std::wstring backup = scratch.file(L"run\\previous-launcher.exe");
    write_file(backup, "previous launcher");
    ASSERT_TRUE(SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));

    for (const bool dest_exists : {true, false}) {
        if (dest_exists) {
            write_file(dest, "broken new launcher");
        } else {
            DeleteFileW(dest.c_str());
        }
        const IoStatus restored = restore_from_backup(dest, backup, true);
        ASSERT_TRUE(restored) << restored.error().text();
        EXPECT_EQ(read_file(dest), "previous launcher");
        const DWORD attributes = GetFileAttributesW(dest.c_str());
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << std::hex << attributes;
        EXPECT_FALSE(attributes & FILE_ATTRIBUTE_TEMPORARY) << std::hex << attributes;
        EXPECT_EQ(read_file(backup), "previous launcher");
        EXPECT_EQ(folder_entries(folder()),
                  (std::vector<std::wstring>{L"run", L"vantrel-launcher.exe"}));
    }
}

TEST_F(FileServicesTest, RestoreWithoutBackupLeavesNoFile) {
    const std::wstring dest = scratch.file(L"vantrel-launcher.exe");
    write_file(dest, "new launcher");
    for (int round = 0; round < 2; ++round) {  // the second finds it gone already
        const IoStatus restored = restore_from_backup(dest, scratch.file(L"no-backup"), false);
        ASSERT_TRUE(restored) << restored.error().text();
        EXPECT_FALSE(exists(dest));
    }
    // A destination below a file cannot be queried, which counts as absent.
    write_file(scratch.file(L"file"), "");
    EXPECT_TRUE(restore_from_backup(scratch.file(L"file\\x"), scratch.file(L"no-backup"), false));
}

TEST_F(FileServicesTest, RestoreFailures) {
    const std::wstring backup = scratch.file(L"previous-launcher.exe");
    write_file(backup, "previous");

    const IoStatus no_parent = restore_from_backup(L"vantrel-launcher.exe", backup, true);
    ASSERT_FALSE(no_parent);
    EXPECT_EQ(no_parent.error().text(), "Recovery destination has no parent");

    const std::wstring dest = scratch.file(L"vantrel-launcher.exe");
    const IoStatus no_backup = restore_from_backup(dest, scratch.file(L"missing.exe"), true);
    ASSERT_FALSE(no_backup);
    EXPECT_EQ(no_backup.error().text(), system_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(folder_entries(folder()), std::vector<std::wstring>{L"previous-launcher.exe"});

    // A running launcher cannot be replaced; the copy made for it goes away again.
    write_file(dest, "running");
    std::string failure;
    auto holder = testing::hold_open(dest, FILE_SHARE_READ, failure);
    ASSERT_TRUE(holder) << failure;
    const IoStatus busy = restore_from_backup(dest, backup, true);
    ASSERT_FALSE(busy);
    EXPECT_NE(busy.error().text().find(" (os error "), std::string::npos) << busy.error().text();
    EXPECT_FALSE(restore_from_backup(dest, backup, false));
    holder->stop();
    EXPECT_EQ(read_file(dest), "running");
    EXPECT_EQ(folder_entries(folder()),
              (std::vector<std::wstring>{L"previous-launcher.exe", L"vantrel-launcher.exe"}));
}

TEST_F(FileServicesTest, DeleteOwnFileClearsReadOnly) {
    const std::wstring path = scratch.file(L"previous-shortcut.lnk");
    write_file(path, "x");
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(delete_own_file(path));
    EXPECT_FALSE(exists(path));
    const IoStatus again = delete_own_file(path);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().text(), system_error_text(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileServicesTest, FolderTreeRemovalNeverEntersALinkedFolder) {
    const std::wstring outside = scratch.file(L"outside");
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    write_file(join_path(outside, L"saved-account"), "keep me");
    const std::wstring tree = scratch.file(L"tree");
    ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(join_path(tree, L"a").c_str(), nullptr));
    write_file(join_path(tree, L"a\\file"), "x");
    const testing::FolderLink link(outside, join_path(tree, L"link"));
    if (link.failure())
        GTEST_SKIP() << *link.failure();

    const IoStatus removed = remove_folder_tree(tree);
    EXPECT_EQ(read_file(join_path(outside, L"saved-account")), "keep me");
    EXPECT_FALSE(exists(join_path(tree, L"a")));
    if (testing::running_under_wine()) {
        // Wine's RemoveDirectoryW on a unix link removes the link's target (here it
        // refuses, as the target is not empty) and leaves the link.
        GTEST_SKIP() << "Wine cannot remove a unix link to a folder";
    }
    EXPECT_TRUE(removed) << removed.error().text();
    EXPECT_FALSE(exists(tree));
}

TEST_F(FileServicesTest, FolderTreeRemoval) {
    const std::wstring tree = scratch.file(L".launcher-setup-AbC123");
    ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(join_path(tree, L"a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(join_path(tree, L"a\\b").c_str(), nullptr));
    write_file(join_path(tree, L"a\\b\\deep"), "x");
    write_file(join_path(tree, L"previous-launcher.exe"), "x");
    SetFileAttributesW(join_path(tree, L"previous-launcher.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(remove_folder_tree(tree));
    EXPECT_FALSE(exists(tree));
    EXPECT_FALSE(remove_folder_tree(tree));
}

}  // namespace
}  // namespace vantrel
