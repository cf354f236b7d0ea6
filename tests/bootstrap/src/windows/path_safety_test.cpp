#include "windows/path_safety.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "layout_test_support.hpp"
#include "lib/digest.hpp"
#include "support/windows_test_support.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

using testing::exists;
using testing::ScratchFolder;
using testing::write_file;

struct PathPair {
    const wchar_t* a;
    const wchar_t* b;
    bool same;
};

TEST(SamePathTest, ComparesComponentByComponent) {
    const PathPair cases[] = {
        {L"C:\\a\\b", L"C:\\a\\b", true},
        {L"C:\\a\\b", L"c:\\a\\b", true},     // drive letter case
        {L"C:\\a\\b", L"C:/a/b", true},       // either separator
        {L"C:\\a\\\\b", L"C:\\a\\b", true},   // repeated separators
        {L"C:\\a\\.\\b", L"C:\\a\\b", true},  // "." components
        {L"C:\\a\\b\\", L"C:\\a\\b", true},   // trailing separator
        {L"C:\\a\\b\\.", L"C:\\a\\b", true},
        {L"C:\\", L"C:/", true},
        {L"\\\\server\\share\\x", L"//server/share/x", true},
        {L"\\\\server\\share", L"\\\\server\\share\\", true},
        {L"\\\\?\\C:\\a", L"\\\\?\\c:\\a", true},
        {L"a\\b", L"a/b", true},
        {L".\\a", L"a", true},
        {L"", L".", true},
        {L"C:\\a\\B", L"C:\\a\\b", false},  // other characters' case
        {L"C:\\Users\\\u00c4", L"C:\\Users\\\u00e4", false},
        {L"C:\\a", L"D:\\a", false},
        {L"C:\\a", L"C:a", false},  // rooted or not
        {L"\\a", L"a", false},
        {L"C:\\a\\b", L"C:\\a", false},
        {L"C:\\ab", L"C:\\a\\b", false},
        {L"C:\\a\\..\\b", L"C:\\b", false},  // ".." is not resolved
        {L"\\\\server\\share\\x", L"\\\\Server\\share\\x", false},
        {L"\\\\server\\share\\x", L"\\\\server\\other\\x", false},
        {L"\\\\?\\C:\\a", L"C:\\a", false},                  // verbatim is another form
        {L"\\\\?\\C:\\a\\.\\b", L"\\\\?\\C:\\a\\b", false},  // verbatim keeps "."
        {L"\\\\?\\C:\\a/b", L"\\\\?\\C:\\a\\b", false},      // and "/" as a character
        {L"\\\\.\\COM1", L"\\\\?\\COM1", false},
        {L"C:\\a", L"\\\\server\\a", false},
    };
    for (const PathPair& c : cases) {
        EXPECT_EQ(same_path(c.a, c.b), c.same) << std::wstring(c.a) << L" vs " << c.b;
        EXPECT_EQ(same_path(c.b, c.a), c.same) << std::wstring(c.b) << L" vs " << c.a;
    }
}

TEST(PathPartsTest, ParentNormalFormAndFileName) {
    struct Case {
        const wchar_t* path;
        std::optional<std::wstring> parent;
        std::wstring normalized;
        std::optional<std::wstring> name;
    };
    const Case cases[] = {
        {L"C:\\a\\b", L"C:\\a", L"C:\\a\\b", L"b"},
        {L"C:\\a\\b\\", L"C:\\a", L"C:\\a\\b", L"b"},
        {L"C:/a/./b//", L"C:\\a", L"C:\\a\\b", L"b"},
        {L"C:\\a", L"C:\\", L"C:\\a", L"a"},
        {L"C:\\", std::nullopt, L"C:\\", std::nullopt},
        {L"C:", std::nullopt, L"C:", std::nullopt},
        {L"C:a", L"C:", L"C:a", L"a"},
        {L"\\\\server\\share\\a", L"\\\\server\\share\\", L"\\\\server\\share\\a", L"a"},
        {L"\\\\server\\share", std::nullopt, L"\\\\server\\share\\", std::nullopt},
        {L"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\a", L"\\\\?\\C:\\a\\b", L"b"},
        {L"a\\b", L"a", L"a\\b", L"b"},
        {L"Vantrel.exe", std::nullopt, L"Vantrel.exe", L"Vantrel.exe"},
        {L"\\a", L"\\", L"\\a", L"a"},
        {L"", std::nullopt, L"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parent_path(c.path), c.parent) << c.path;
        EXPECT_EQ(normalized_path(c.path), c.normalized) << c.path;
        EXPECT_EQ(file_name(c.path), c.name) << c.path;
    }
}

TEST(PathPartsTest, TextForMessagesRepairsUnpairedSurrogates) {
    EXPECT_EQ(path_text(L"C:\\J\u00f6rg\\\U0001F600"), "C:\\J\xc3\xb6rg\\\xf0\x9f\x98\x80");
    EXPECT_EQ(path_text(std::wstring(L"a") + wchar_t(0xD800) + L"b"),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(path_text(std::wstring(L"a") + wchar_t(0xDC00)), "a\xef\xbf\xbd");
}

// A file system made of answers, which records what was asked.
class FakeMetadata {
  public:
    void set(const std::wstring& path, LinkMetadata metadata) { answers_[path] = metadata; }
    void folder(const std::wstring& path) { set(path, {0, FILE_ATTRIBUTE_DIRECTORY, {}}); }

    MetadataQuery query() {
        return [this](const std::wstring& path) {
            asked_.push_back(path);
            const auto found = answers_.find(path);
            return found != answers_.end() ? found->second
                                           : LinkMetadata{ERROR_FILE_NOT_FOUND, 0, {}};
        };
    }
    const std::vector<std::wstring>& asked() const { return asked_; }

  private:
    std::map<std::wstring, LinkMetadata> answers_;
    std::vector<std::wstring> asked_;
};

constexpr DWORD reparse_folder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

TEST(EnsureNoLinksTest, WalksFromThePathUpToTheRoot) {
    FakeMetadata disk;
    disk.folder(L"C:\\");
    disk.folder(L"C:\\Users");
    // C:\Users\me\AppData\Local\Vantrel and below do not exist yet.
    EXPECT_TRUE(ensure_no_links(L"C:\\Users\\me\\Vantrel\\bin\\", disk.query()));
    const std::vector<std::wstring> expected{L"C:\\Users\\me\\Vantrel\\bin",
                                             L"C:\\Users\\me\\Vantrel", L"C:\\Users\\me",
                                             L"C:\\Users", L"C:\\"};
    EXPECT_EQ(disk.asked(), expected);
}

TEST(EnsureNoLinksTest, EveryKindOfReparsePointAnywhereIsRefused) {
    const std::optional<std::uint32_t> tags[] = {IO_REPARSE_TAG_SYMLINK, IO_REPARSE_TAG_MOUNT_POINT,
                                                 0x80000013 /* not a name surrogate */, 0,
                                                 std::nullopt};
    const std::wstring path = L"C:\\Users\\me\\Vantrel\\bin\\vantrel-launcher.exe";
    for (const std::wstring& link :
         {std::wstring(L"C:\\Users"), std::wstring(L"C:\\Users\\me\\Vantrel"), path}) {
        for (const auto& tag : tags) {
            FakeMetadata disk;
            disk.folder(L"C:\\");
            disk.folder(L"C:\\Users");
            disk.folder(L"C:\\Users\\me");
            disk.folder(L"C:\\Users\\me\\Vantrel");
            disk.set(link, {0, link == path ? FILE_ATTRIBUTE_REPARSE_POINT : reparse_folder, tag});
            const Status status = ensure_no_links(path, disk.query());
            ASSERT_FALSE(status) << link;
            EXPECT_EQ(status.error().stage(), Stage::Installation);
            EXPECT_EQ(status.error().detail(),
                      "Launcher paths must not contain links or junctions.");
            EXPECT_EQ(disk.asked().back(), link) << "the walk went on after the link";
        }
    }
}

TEST(EnsureNoLinksTest, OnlyAbsenceIsAccepted) {
    struct Case {
        DWORD error;
        bool accepted;
    };
    const Case cases[] = {{ERROR_FILE_NOT_FOUND, true},     {ERROR_PATH_NOT_FOUND, true},
                          {ERROR_INVALID_DRIVE, true},      {ERROR_BAD_NETPATH, true},
                          {ERROR_BAD_NET_NAME, true},       {ERROR_ACCESS_DENIED, false},
                          {ERROR_SHARING_VIOLATION, false}, {ERROR_INVALID_NAME, false}};
    for (const Case& c : cases) {
        FakeMetadata disk;
        disk.folder(L"C:\\");
        disk.set(L"C:\\P", {c.error, 0, {}});
        const Status status = ensure_no_links(L"C:\\P\\bin", disk.query());
        EXPECT_EQ(status.ok(), c.accepted) << c.error;
        if (!status) {
            EXPECT_EQ(status.error().stage(), Stage::Installation);
            EXPECT_EQ(status.error().detail(), system_error_text(c.error));
        }
    }
}

TEST(CheckRegularFileTest, DecidesFromAttributesAndTag) {
    struct Case {
        LinkMetadata metadata;
        bool regular;
    };
    const Case cases[] = {
        {{0, FILE_ATTRIBUTE_ARCHIVE, {}}, true},
        {{0, FILE_ATTRIBUTE_NORMAL, {}}, true},
        {{0, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, {}}, true},
        {{0, FILE_ATTRIBUTE_DIRECTORY, {}}, false},
        {{0, FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK}, false},
        {{0, reparse_folder, IO_REPARSE_TAG_MOUNT_POINT}, false},
        {{0, FILE_ATTRIBUTE_REPARSE_POINT, 0x80000013}, true},     // deduplicated file
        {{0, FILE_ATTRIBUTE_REPARSE_POINT, 0x9000001A}, true},     // cloud placeholder
        {{0, FILE_ATTRIBUTE_REPARSE_POINT, std::nullopt}, false},  // tag unreadable
        {{0, reparse_folder, 0x80000013}, false},
    };
    const std::wstring path = L"C:\\P\\bin\\vantrel-launcher.exe";
    for (const Case& c : cases) {
        FakeMetadata disk;
        disk.set(path, c.metadata);
        const IoStatus status = check_regular_file(path, disk.query());
        EXPECT_EQ(status.ok(), c.regular) << std::hex << c.metadata.attributes;
        if (!status) {
            EXPECT_EQ(
                status.error().text(),
                "installed executable is not a regular file: C:\\P\\bin\\vantrel-launcher.exe");
        }
    }
}

TEST(CheckRegularFileTest, QueryFailuresComeBackUnchanged) {
    FakeMetadata disk;
    disk.set(L"C:\\locked", {ERROR_ACCESS_DENIED, 0, {}});
    for (const auto& [path, code] : {std::pair{L"C:\\missing", DWORD(ERROR_FILE_NOT_FOUND)},
                                     std::pair{L"C:\\locked", DWORD(ERROR_ACCESS_DENIED)}}) {
        const IoStatus status = check_regular_file(path, disk.query());
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().text(), system_error_text(code));
    }
}

class PathSafetyOnDiskTest : public ::testing::Test {
  protected:
    ScratchFolder scratch;
};

TEST_F(PathSafetyOnDiskTest, PlainFoldersAndMissingPathsPass) {
    ASSERT_TRUE(CreateDirectoryW(scratch.file(L"Vantrel").c_str(), nullptr));
    for (const wchar_t* below :
         {L"", L"Vantrel", L"Vantrel\\bin\\vantrel-launcher.exe", L"missing\\deeper\\x"}) {
        EXPECT_TRUE(ensure_no_links(scratch.file(below))) << below;
    }
}

TEST_F(PathSafetyOnDiskTest, FolderLinksAreRefusedAtAnyDepth) {
    const std::wstring target = scratch.file(L"target");
    const std::wstring link = scratch.file(L"link");
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    write_file(target + L"\\inner", "x");
    const testing::FolderLink made(target, link);
    if (made.failure())
        GTEST_SKIP() << *made.failure();

    EXPECT_TRUE(ensure_no_links(target + L"\\inner"));
    for (const std::wstring& path :
         {link, link + L"\\", link + L"\\inner", link + L"\\missing\\x"}) {
        const Status status = ensure_no_links(path);
        ASSERT_FALSE(status) << path;
        EXPECT_EQ(status.error().display(),
                  "Installation failed: Launcher paths must not contain links or junctions.");
    }
    EXPECT_FALSE(check_regular_file(link));
}

TEST_F(PathSafetyOnDiskTest, JunctionsAreRefused) {
    const std::wstring target = scratch.file(L"target");
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const std::wstring junction = scratch.file(L"junction");
    if (const auto why = testing::make_junction(target, junction)) {
        GTEST_SKIP() << *why << "; the decision is covered by EnsureNoLinksTest";
    }
    EXPECT_FALSE(ensure_no_links(junction + L"\\bin"));
    EXPECT_FALSE(check_regular_file(junction));
}

TEST_F(PathSafetyOnDiskTest, RegularFileCheck) {
    const std::wstring file = scratch.file(L"vantrel-launcher.exe");
    write_file(file, "MZ");
    EXPECT_TRUE(check_regular_file(file));

    const IoStatus folder = check_regular_file(scratch.path());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().text(),
              "installed executable is not a regular file: " + path_text(scratch.path()));

    const IoStatus missing = check_regular_file(scratch.file(L"missing.exe"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().text(), system_error_text(ERROR_FILE_NOT_FOUND));
}

TEST_F(PathSafetyOnDiskTest, FileLinksAreNotRegularFiles) {
    const std::wstring file = scratch.file(L"real.exe");
    write_file(file, "MZ");
    const std::wstring link = scratch.file(L"vantrel-launcher.exe");
    if (const auto why = testing::make_file_link(file, link)) {
        GTEST_SKIP() << *why << "; the decision is covered by CheckRegularFileTest";
    }
    EXPECT_FALSE(check_regular_file(link));
    EXPECT_FALSE(ensure_no_links(link));
}

TEST_F(PathSafetyOnDiskTest, SameFileThroughOtherSpellings) {
    ASSERT_TRUE(CreateDirectoryW(scratch.file(L"Folder").c_str(), nullptr));
    const std::wstring file = scratch.file(L"Folder\\LongLauncherName.exe");
    write_file(file, "same bytes");
    std::wstring forward = scratch.file(L"fOLDER/longlaunchername.EXE");

    std::vector<std::wstring> spellings{file, forward,
                                        scratch.file(L"Folder\\.\\LongLauncherName.exe")};
    wchar_t short_name[MAX_PATH];
    const DWORD length = GetShortPathNameW(file.c_str(), short_name, MAX_PATH);
    if (length > 0 && length < MAX_PATH && std::wstring(short_name) != file) {
        spellings.push_back(short_name);
    } else {
        ADD_FAILURE() << "no short name for " << file;
    }
    for (const std::wstring& spelling : spellings) {
        const auto same = same_file(file, spelling);
        ASSERT_TRUE(same) << spelling << ": " << same.error().text();
        EXPECT_TRUE(*same) << spelling;
    }

    const std::wstring copy = scratch.file(L"copy.exe");
    ASSERT_TRUE(CopyFileW(file.c_str(), copy.c_str(), TRUE));
    EXPECT_EQ(same_file(file, copy).value(), false);
    EXPECT_EQ(same_content(file, copy).value(), true);

    const auto missing = same_file(file, scratch.file(L"missing"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().text(), system_error_text(ERROR_FILE_NOT_FOUND));
}

TEST_F(PathSafetyOnDiskTest, SameContentComparesSizeThenDigest) {
    struct Case {
        std::string a;
        std::string b;
        bool same;
    };
    const Case cases[] = {{"", "", true},
                          {"launcher", "launcher", true},
                          {"launcher", "launcheR", false},
                          {"launcher", "launcher!", false},
                          {std::string(20000, 'x'), std::string(20000, 'x'), true},
                          {std::string(20000, 'x'), std::string(19999, 'x') + "y", false}};
    for (const Case& c : cases) {
        write_file(scratch.file(L"a"), c.a);
        write_file(scratch.file(L"b"), c.b);
        const auto same = same_content(scratch.file(L"a"), scratch.file(L"b"));
        ASSERT_TRUE(same) << same.error().text();
        EXPECT_EQ(*same, c.same) << c.a.size() << " " << c.b.size();
    }
    EXPECT_FALSE(same_content(scratch.file(L"a"), scratch.file(L"missing")));
}

TEST_F(PathSafetyOnDiskTest, FileDigestCoversEveryBlock) {
    std::string content;
    // Over two blocks and not a multiple of the block size.
    for (int i = 0; i < 8192 * 2 + 777; ++i)
        content += char('a' + i % 26);
    for (const std::string& data : {std::string(), std::string("abc"), content}) {
        write_file(scratch.file(L"data"), data);
        const auto digest = file_sha256(scratch.file(L"data"));
        ASSERT_TRUE(digest) << digest.error().text();
        EXPECT_EQ(*digest, sha256(as_bytes(data))) << data.size();
    }
    write_file(scratch.file(L"data"), "");
    EXPECT_EQ(lower_hex(file_sha256(scratch.file(L"data")).value()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_FALSE(file_sha256(scratch.file(L"missing")));
}

TEST_F(PathSafetyOnDiskTest, SameFileOrMissing) {
    const std::wstring file = scratch.file(L"target.exe");
    write_file(file, "MZ");
    const std::wstring missing = scratch.file(L"missing.exe");
    struct Case {
        std::wstring a;
        std::wstring expected;
        bool answer;
    };
    const Case cases[] = {
        {file, file, true},
        {file, scratch.file(L"TARGET.exe"), true},
        {missing, missing, true},
        {missing, scratch.file(L".\\missing.exe"), true},
        {missing, scratch.file(L"other-missing.exe"), false},
        {missing, file, false},  // same_file fails, and expected exists
        {file, missing, false},
        {scratch.file(L"MISSING.exe"), missing, false},  // equal only ignoring case
    };
    for (const Case& c : cases) {
        EXPECT_EQ(same_file_or_missing(c.a, c.expected), c.answer) << c.a << L" / " << c.expected;
    }
    EXPECT_TRUE(exists(file));
}

}  // namespace
}  // namespace vantrel
