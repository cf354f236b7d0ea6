#include "windows/temp_files.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "layout_test_support.hpp"
#include "support/windows_test_support.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/random_names.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

using testing::exists;
using testing::folder_entries;
using testing::read_file;
using testing::ScratchFolder;
using testing::write_file;

// Gives the names it was told in order, then keeps repeating the last one.
class ScriptedNames final : public NameSource {
  public:
    explicit ScriptedNames(std::vector<std::wstring> names) : names_(std::move(names)) {}

    std::wstring next() override {
        calls.push_back(L"next");
        ++drawn;
        const std::wstring name = names_[std::min(index_, names_.size() - 1)];
        ++index_;
        return name;
    }
    void reseed() override {
        calls.push_back(L"reseed");
        ++reseeds;
    }

    std::vector<std::wstring> calls;
    std::size_t drawn = 0;
    int reseeds = 0;

  private:
    std::vector<std::wstring> names_;
    std::size_t index_ = 0;
};

bool is_random_part(std::wstring_view part) {
    return part.size() == random_name_length &&
           part.find_first_not_of(random_name_alphabet) == std::wstring_view::npos;
}

DWORD attributes_of(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

class TempFilesTest : public ::testing::Test {
  protected:
    std::wstring folder() const { return normalized_path(scratch.path()); }
    ScratchFolder scratch;
};

TEST_F(TempFilesTest, FileIsCreatedNewWithTheTemporaryAttributeAndDeletedAtTheEnd) {
    std::wstring path;
    {
        auto file = create_temp_file(folder());
        ASSERT_TRUE(file) << file.error().text();
        path = file->path();
        EXPECT_TRUE(same_path(*parent_path(path), folder())) << path;
        const std::wstring name = *file_name(path);
        EXPECT_TRUE(name.starts_with(L".tmp") && is_random_part(name.substr(4))) << name;

        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file->handle(), "cache", 5, &written, nullptr));
        // Full sharing: others can read it while it is open.
        EXPECT_EQ(read_file(path), "cache");
    }
    EXPECT_FALSE(exists(path));
    EXPECT_TRUE(folder_entries(folder()).empty());
}

TEST_F(TempFilesTest, FileCarriesTheTemporaryAttribute) {
    // Wine keeps only some attributes; see whether this system keeps this one.
    const std::wstring probe = scratch.file(L"probe");
    CloseHandle(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!(attributes_of(probe) & FILE_ATTRIBUTE_TEMPORARY)) {
        GTEST_SKIP() << "this file system does not keep FILE_ATTRIBUTE_TEMPORARY (Wine)";
    }
    const auto file = create_temp_file(folder());
    ASSERT_TRUE(file);
    EXPECT_TRUE(attributes_of(file->path()) & FILE_ATTRIBUTE_TEMPORARY);
}

TEST_F(TempFilesTest, TakenNamesAreSkippedAndTheSourceReseededAfterThree) {
    write_file(scratch.file(L".tmpAAAAAA"), "someone else's");
    struct Case {
        std::vector<std::wstring> names;
        std::vector<std::wstring> calls;
        std::wstring created;
    };
    const Case cases[] = {
        {{L"BBBBBB"}, {L"next"}, L".tmpBBBBBB"},
        {{L"AAAAAA", L"BBBBBB"}, {L"next", L"next"}, L".tmpBBBBBB"},
        {{L"AAAAAA", L"AAAAAA", L"AAAAAA", L"CCCCCC"},
         {L"next", L"next", L"next", L"reseed", L"next"},
         L".tmpCCCCCC"},
        {{L"AAAAAA", L"AAAAAA", L"AAAAAA", L"AAAAAA", L"AAAAAA", L"DDDDDD"},
         {L"next", L"next", L"next", L"reseed", L"next", L"next", L"next"},
         L".tmpDDDDDD"},
    };
    for (const Case& c : cases) {
        ScriptedNames names(c.names);
        auto file = create_temp_file(folder(), names);
        ASSERT_TRUE(file) << file.error().text();
        EXPECT_EQ(*file_name(file->path()), c.created);
        EXPECT_EQ(names.calls, c.calls) << c.created;
    }
    EXPECT_EQ(read_file(scratch.file(L".tmpAAAAAA")), "someone else's");
}

TEST_F(TempFilesTest, GivesUpWhenEveryNameIsTaken) {
    write_file(scratch.file(L".tmpAAAAAA"), "");
    ScriptedNames names({L"AAAAAA"});
    const auto file = create_temp_file(folder(), names);
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().text(), "too many temporary files exist at path " + path_text(folder()));
    EXPECT_EQ(names.drawn, 65536u);
    EXPECT_EQ(names.reseeds, 1);
}

TEST_F(TempFilesTest, OtherFailuresEndAtOnce) {
    ScriptedNames names({L"AAAAAA"});
    const auto file = create_temp_file(scratch.file(L"missing"), names);
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().text(), system_error_text(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(names.drawn, 1u);

    ScriptedNames folder_names({L"AAAAAA"});
    const auto made = create_temp_folder(scratch.file(L"missing"), L"x-", folder_names);
    ASSERT_FALSE(made);
    EXPECT_EQ(folder_names.drawn, 1u);
}

TEST_F(TempFilesTest, MovedFilesAreDeletedByTheirLastOwner) {
    auto first = create_temp_file(folder());
    auto second = create_temp_file(folder());
    ASSERT_TRUE(first && second);
    const std::wstring first_path = first->path();
    const std::wstring second_path = second->path();
    {
        TempFile owner = std::move(*first);
        EXPECT_TRUE(exists(first_path));
        owner = std::move(*second);  // lets go of the first file
        EXPECT_FALSE(exists(first_path));
        EXPECT_TRUE(exists(second_path));
    }
    EXPECT_FALSE(exists(second_path));
}

TEST_F(TempFilesTest, PersistReplacesTheDestination) {
    const std::wstring dest = scratch.file(L".launcher-verified-cache");
    write_file(dest, "old cache");
    auto file = create_temp_file(folder());
    ASSERT_TRUE(file);
    const std::wstring temp_path = file->path();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file->handle(), "new cache", 9, &written, nullptr));

    const IoStatus persisted = persist_temp_file(std::move(*file), dest);
    ASSERT_TRUE(persisted) << persisted.error().text();
    EXPECT_EQ(read_file(dest), "new cache");
    EXPECT_FALSE(attributes_of(dest) & FILE_ATTRIBUTE_TEMPORARY);
    EXPECT_FALSE(exists(temp_path));
    EXPECT_EQ(folder_entries(folder()), std::vector<std::wstring>{L".launcher-verified-cache"});
}

TEST_F(TempFilesTest, FailedPersistDeletesTheTemporaryAndKeepsTheDestination) {
    const std::wstring dest = scratch.file(L"vantrel-launcher.exe");
    write_file(dest, "running launcher");
    std::string failure;
    // Like a running program: open without delete sharing, so it cannot be replaced.
    auto holder = testing::hold_open(dest, FILE_SHARE_READ, failure);
    ASSERT_TRUE(holder) << failure;

    auto file = create_temp_file(folder());
    ASSERT_TRUE(file);
    const std::wstring temp_path = file->path();
    const IoStatus persisted = persist_temp_file(std::move(*file), dest);
    ASSERT_FALSE(persisted);
    EXPECT_TRUE(persisted.error().text().ends_with(")")) << persisted.error().text();
    EXPECT_NE(persisted.error().text().find(" (os error "), std::string::npos);
    EXPECT_FALSE(exists(temp_path));
    holder->stop();
    EXPECT_EQ(read_file(dest), "running launcher");
}

TEST_F(TempFilesTest, FolderIsRemovedWithItsContentUnlessKept) {
    std::wstring removed_path;
    std::wstring kept_path;
    {
        auto removed = create_temp_folder(folder(), L".launcher-setup-");
        auto kept = create_temp_folder(folder(), L".bootstrap-setup-");
        ASSERT_TRUE(removed && kept);
        removed_path = removed->path();
        kept_path = kept->path();
        const std::wstring name = *file_name(removed_path);
        EXPECT_TRUE(name.starts_with(L".launcher-setup-") && is_random_part(name.substr(16)))
            << name;
        EXPECT_TRUE(same_path(*parent_path(removed_path), folder()));

        ASSERT_TRUE(CreateDirectoryW(join_path(removed_path, L"deeper").c_str(), nullptr));
        write_file(join_path(removed_path, L"deeper\\previous-launcher.exe"), "old");
        SetFileAttributesW(join_path(removed_path, L"deeper\\previous-launcher.exe").c_str(),
                           FILE_ATTRIBUTE_READONLY);
        write_file(join_path(removed_path, L"vantrel-launcher.exe"), "new");
        write_file(join_path(kept_path, L"previous-bootstrap.exe"), "old");
        kept->keep();
    }
    EXPECT_FALSE(exists(removed_path));
    EXPECT_EQ(read_file(join_path(kept_path, L"previous-bootstrap.exe")), "old");
}

// Only plain folders under the prefix and 6 letters or digits go, never the one kept and
// never what a link under such a name points to.
TEST_F(TempFilesTest, StaleFoldersGoButTheKeptOneAndLinksStay) {
    for (const wchar_t* name : {L".launcher-setup-Old001", L".launcher-setup-Own002"})
        ASSERT_TRUE(CreateDirectoryW(scratch.file(name).c_str(), nullptr));
    write_file(scratch.file(L".launcher-setup-Old001\\previous-launcher.exe"), "old");
    const std::wstring outside = scratch.file(L"outside");
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    write_file(join_path(outside, L"saved-account"), "keep me");
    const testing::FolderLink link(outside, scratch.file(L".launcher-setup-Link03"));

    remove_temp_folders(folder(), L".launcher-setup-", scratch.file(L".launcher-setup-Own002"));

    EXPECT_FALSE(exists(scratch.file(L".launcher-setup-Old001")));
    EXPECT_TRUE(exists(scratch.file(L".launcher-setup-Own002")));
    EXPECT_EQ(read_file(join_path(outside, L"saved-account")), "keep me");
    if (link.failure())
        GTEST_SKIP() << *link.failure();
    EXPECT_TRUE(exists(scratch.file(L".launcher-setup-Link03")));
}

TEST_F(TempFilesTest, FolderNamesCollideLikeFileNames) {
    ASSERT_TRUE(CreateDirectoryW(scratch.file(L"orvane-uninstall-AAAAAA").c_str(), nullptr));
    ScriptedNames names({L"AAAAAA", L"BBBBBB"});
    const auto made = create_temp_folder(folder(), L"orvane-uninstall-", names);
    ASSERT_TRUE(made) << made.error().text();
    EXPECT_EQ(*file_name(made->path()), L"orvane-uninstall-BBBBBB");
    EXPECT_TRUE(attributes_of(made->path()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(RandomNamesTest, SixCharactersOfTheAlphabetSpreadOverAllOfIt) {
    std::set<std::wstring> names;
    std::set<wchar_t> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::wstring name = random_names().next();
        ASSERT_TRUE(is_random_part(name)) << name;
        names.insert(name);
        seen.insert(name.begin(), name.end());
    }
    EXPECT_GE(names.size(), 1990u);
    EXPECT_EQ(seen.size(), random_name_alphabet.size());
}

TEST(RandomNamesTest, SystemSourceGivesFreshBytes) {
    std::array<std::uint8_t, 32> first{};
    std::array<std::uint8_t, 32> second{};
    ASSERT_TRUE(system_random(first));
    ASSERT_TRUE(system_random(second));
    EXPECT_NE(first, second);
    EXPECT_NE(first, (std::array<std::uint8_t, 32>{}));
}

}  // namespace
}  // namespace vantrel
