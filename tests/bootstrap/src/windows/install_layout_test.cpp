#include "windows/install_layout.hpp"

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include "windows/path_components.hpp"

namespace vantrel {
namespace {

bool is_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(JoinPathTest, InsertsOneSeparator) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* name;
        const wchar_t* joined;
    };
    const Case cases[] = {
        {L"C:\\Users\\me", L"Vantrel", L"C:\\Users\\me\\Vantrel"},
        {L"C:\\Users\\me\\", L"Vantrel", L"C:\\Users\\me\\Vantrel"},
        {L"C:/Users/me/", L"Vantrel", L"C:/Users/me/Vantrel"},
        {L"C:\\", L"Vantrel", L"C:\\Vantrel"},
        {L"", L"Vantrel", L"Vantrel"},
        {L"C:\\P", L"bin/.launcher-setup.lock", L"C:\\P\\bin/.launcher-setup.lock"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(join_path(c.folder, c.name), c.joined) << c.folder;
}

TEST(KnownFolderTest, TheUsersFoldersExist) {
    struct Case {
        const KNOWNFOLDERID& id;
        std::string_view name;
        const wchar_t* ends_with;
    };
    const Case cases[] = {
        {FOLDERID_LocalAppData, layout::local_app_data_display_name, L"\\AppData\\Local"},
        {FOLDERID_Desktop, layout::desktop_display_name, L"\\Desktop"},
        {FOLDERID_Programs, layout::programs_display_name, L"\\Start Menu\\Programs"},
    };
    for (const Case& c : cases) {
        const auto folder = known_folder(c.id, c.name);
        ASSERT_TRUE(folder) << folder.error().display();
        EXPECT_TRUE(folder->ends_with(c.ends_with)) << *folder;
        EXPECT_TRUE(is_folder(*folder)) << *folder;
    }
}

TEST(KnownFolderTest, AFolderTheShellDoesNotKnowIsNamedInTheFailure) {
    // A random identifier that no system registers.
    const KNOWNFOLDERID unknown = {
        0x5b1c2f34, 0x9e0d, 0x4c7a, {0x8f, 0x21, 0x3d, 0x6e, 0x90, 0xab, 0xcd, 0xef}};
    const auto folder = known_folder(unknown, "Start menu");
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().stage(), Stage::Installation);
    EXPECT_EQ(folder.error().detail(), "Windows could not find your Start menu folder.");
}

TEST(KnownFolderTest, ProductAndLauncherFolders) {
    const auto local = known_folder(FOLDERID_LocalAppData, "Local AppData");
    const auto product = product_folder();
    const auto launcher = launcher_folder();
    ASSERT_TRUE(local && product && launcher);
    EXPECT_EQ(*product, *local + L"\\Vantrel");
    EXPECT_EQ(*launcher, *local + L"\\Vantrel\\bin");
    EXPECT_TRUE(same_path(*parent_path(*launcher), *product));
}

TEST(TemporaryFolderTest, IsTheUsersExistingTempFolder) {
    const auto folder = temporary_folder();
    ASSERT_TRUE(folder) << folder.error().text();
    ASSERT_FALSE(folder->empty());
    EXPECT_EQ(folder->back(), L'\\');
    EXPECT_TRUE(is_folder(*folder)) << *folder;
    wchar_t expected[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, expected);
    EXPECT_TRUE(same_path(*folder, std::wstring(expected, length))) << *folder;
}

}  // namespace
}  // namespace vantrel
