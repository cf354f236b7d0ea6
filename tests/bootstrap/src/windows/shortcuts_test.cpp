#include "windows/shortcuts.hpp"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "layout_test_support.hpp"
#include "support/windows_test_support.hpp"
#include "windows/com_apartment.hpp"
#include "windows/com_ptr.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/random_names.hpp"
#include "windows/setup_locks.hpp"

namespace vantrel {
namespace {

using testing::exists;
using testing::folder_entries;
using testing::read_file;
using testing::ScratchFolder;
using testing::write_file;

// ---------------------------------------------------------------------------
// The rules, over plain properties.

// Paths name one file when they are the same path or listed as aliases of each other.
SameTarget same_target_with_aliases(std::set<std::pair<std::wstring, std::wstring>> aliases) {
    return [aliases](const std::wstring& found, const std::wstring& expected) {
        return same_path(found, expected) || aliases.contains({found, expected});
    };
}

ShellLinkProperties link_to(const std::wstring& target) {
    return {target, shortcut_working_folder(target), L"", target, 0};
}

TEST(ShortcutRules, MatchRuleLooksAtEveryProperty) {
    const std::wstring target = L"C:\\P\\Vantrel.exe";
    const SameTarget same = same_target_with_aliases(
        {{L"C:\\P\\VANTRE~1.EXE", target}, {L"C:\\P\\Other.exe", L"C:\\P\\Unrelated.exe"}});
    const struct {
        const char* name;
        std::function<void(ShellLinkProperties&)> change;
        bool matches;
    } cases[] = {
        {"as written", [](ShellLinkProperties&) {}, true},
        {"target is another file", [](ShellLinkProperties& l) { l.target = L"C:\\P\\Other.exe"; },
         false},
        {"target names the file another way",
         [](ShellLinkProperties& l) { l.target = L"C:\\P\\VANTRE~1.EXE"; }, true},
        {"empty target", [](ShellLinkProperties& l) { l.target.clear(); }, false},
        {"working folder elsewhere", [](ShellLinkProperties& l) { l.working_folder = L"C:\\Q"; },
         false},
        {"working folder is the target", [&](ShellLinkProperties& l) { l.working_folder = target; },
         false},
        {"working folder with trailing separator and lower-case drive",
         [](ShellLinkProperties& l) { l.working_folder = L"c:\\P\\"; }, true},
        {"working folder in another case",
         [](ShellLinkProperties& l) { l.working_folder = L"C:\\p"; }, false},
        {"arguments", [](ShellLinkProperties& l) { l.arguments = L"--repair"; }, false},
        {"icon from another file",
         [](ShellLinkProperties& l) { l.icon_path = L"C:\\P\\Other.exe"; }, false},
        {"icon names the file another way",
         [](ShellLinkProperties& l) { l.icon_path = L"C:\\P\\VANTRE~1.EXE"; }, true},
        {"no icon", [](ShellLinkProperties& l) { l.icon_path.clear(); }, false},
        {"icon index 1", [](ShellLinkProperties& l) { l.icon_index = 1; }, false},
        {"icon index -1", [](ShellLinkProperties& l) { l.icon_index = -1; }, false},
    };
    for (const auto& c : cases) {
        ShellLinkProperties link = link_to(target);
        c.change(link);
        EXPECT_EQ(link_matches(link, target, same), c.matches) << c.name;
    }
}

TEST(ShortcutRules, OwnLinksPointAtTheBootstrapOrTheLauncher) {
    const std::wstring product = L"C:\\Users\\u\\AppData\\Local\\Vantrel";
    const std::wstring bootstrap = product + L"\\Vantrel.exe";
    const std::wstring launcher = product + L"\\bin\\vantrel-launcher.exe";
    const SameTarget same = same_target_with_aliases({});
    ShellLinkProperties launcher_with_arguments = link_to(launcher);
    launcher_with_arguments.arguments = L"--x";
    // Bootstrap target with the launcher's folder and icon: matches neither.
    ShellLinkProperties mixed = link_to(launcher);
    mixed.target = bootstrap;
    const struct {
        const char* name;
        ShellLinkProperties link;
        bool own;
    } cases[] = {
        {"bootstrap", link_to(bootstrap), true},
        {"launcher", link_to(launcher), true},
        {"launcher with arguments", launcher_with_arguments, false},
        {"mixed", mixed, false},
        {"another product", link_to(L"C:\\Users\\u\\AppData\\Local\\Other\\Vantrel.exe"), false},
        {"launcher's folder only", link_to(product + L"\\bin"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(link_is_own(c.link, product, same), c.own) << c.name;
}

TEST(ShortcutRules, WorkingFolderIsTheParentOrTheTargetItself) {
    EXPECT_EQ(shortcut_working_folder(L"C:\\P\\bin\\l.exe"), L"C:\\P\\bin");
    EXPECT_EQ(shortcut_working_folder(L"C:/P/Vantrel.exe"), L"C:\\P");
    EXPECT_EQ(shortcut_working_folder(L"Vantrel.exe"), L"Vantrel.exe");
}

// ---------------------------------------------------------------------------
// Shell links on disk.

constexpr HRESULT injected = E_ACCESSDENIED;

enum class LinkCall {
    SetPath,
    SetWorkingDirectory,
    SetIconLocation,
    QueryPersistFile,
    Save,
    Load,
    GetPath,
    GetWorkingDirectory,
    GetArguments,
    GetIconLocation,
};

// COM objects are destroyed by their own Release, never through an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// A real ShellLink whose one chosen call fails. Save fails after really saving, like
// a save that broke off once the file was there.
class FaultyShellLink final : public IShellLinkW, public IPersistFile {
  public:
    static inline int alive = 0;

    FaultyShellLink(ComPtr<IShellLinkW> link, ComPtr<IPersistFile> file, LinkCall failing)
        : link_(std::move(link)), file_(std::move(file)), failing_(failing) {
        ++alive;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IShellLinkW) {
            *out = static_cast<IShellLinkW*>(this);
        } else if (iid == IID_IPersistFile) {
            if (failing_ == LinkCall::QueryPersistFile)
                return injected;
            *out = static_cast<IPersistFile*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR file, int size, WIN32_FIND_DATAW* data,
                                      DWORD flags) override {
        return fails(LinkCall::GetPath) ? injected : link_->GetPath(file, size, data, flags);
    }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* list) override {
        return link_->GetIDList(list);
    }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE list) override {
        return link_->SetIDList(list);
    }
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR name, int size) override {
        return link_->GetDescription(name, size);
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR name) override {
        return link_->SetDescription(name);
    }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR folder, int size) override {
        return fails(LinkCall::GetWorkingDirectory) ? injected
                                                    : link_->GetWorkingDirectory(folder, size);
    }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR folder) override {
        return fails(LinkCall::SetWorkingDirectory) ? injected : link_->SetWorkingDirectory(folder);
    }
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR arguments, int size) override {
        return fails(LinkCall::GetArguments) ? injected : link_->GetArguments(arguments, size);
    }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR arguments) override {
        return link_->SetArguments(arguments);
    }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD* key) override { return link_->GetHotkey(key); }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD key) override { return link_->SetHotkey(key); }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int* show) override { return link_->GetShowCmd(show); }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int show) override { return link_->SetShowCmd(show); }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR path, int size, int* index) override {
        return fails(LinkCall::GetIconLocation) ? injected
                                                : link_->GetIconLocation(path, size, index);
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR path, int index) override {
        return fails(LinkCall::SetIconLocation) ? injected : link_->SetIconLocation(path, index);
    }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR path, DWORD reserved) override {
        return link_->SetRelativePath(path, reserved);
    }
    HRESULT STDMETHODCALLTYPE Resolve(HWND window, DWORD flags) override {
        return link_->Resolve(window, flags);
    }
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR file) override {
        return fails(LinkCall::SetPath) ? injected : link_->SetPath(file);
    }

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override { return file_->GetClassID(id); }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return file_->IsDirty(); }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD mode) override {
        return fails(LinkCall::Load) ? injected : file_->Load(name, mode);
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, BOOL remember) override {
        const HRESULT saved = file_->Save(name, remember);
        return fails(LinkCall::Save) ? injected : saved;
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR name) override {
        return file_->SaveCompleted(name);
    }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name) override {
        return file_->GetCurFile(name);
    }

  private:
    ~FaultyShellLink() { --alive; }
    bool fails(LinkCall call) const { return failing_ == call; }

    ComPtr<IShellLinkW> link_;
    ComPtr<IPersistFile> file_;
    LinkCall failing_;
    ULONG references_ = 1;
};
#pragma GCC diagnostic pop

ShellLinkFactory failing_at(LinkCall call) {
    return [call](IShellLinkW** out) -> HRESULT {
        ComPtr<IShellLinkW> link;
        if (const HRESULT result = create_shell_link(link.put()); FAILED(result))
            return result;
        ComPtr<IPersistFile> file;
        if (const HRESULT result = link.query(file); FAILED(result))
            return result;
        *out = new FaultyShellLink(std::move(link), std::move(file), call);
        return S_OK;
    };
}

HRESULT no_shell_link(IShellLinkW**) {
    return E_NOINTERFACE;
}

// Saves a link with exactly these properties, as another program might have made it.
void save_link(const std::wstring& path, const ShellLinkProperties& properties) {
    auto apartment = ComApartment::enter_single_threaded();
    ASSERT_TRUE(apartment);
    ComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(create_shell_link(link.put()));
    ASSERT_HRESULT_SUCCEEDED(link->SetPath(properties.target.c_str()));
    ASSERT_HRESULT_SUCCEEDED(link->SetWorkingDirectory(properties.working_folder.c_str()));
    ASSERT_HRESULT_SUCCEEDED(link->SetArguments(properties.arguments.c_str()));
    ASSERT_HRESULT_SUCCEEDED(
        link->SetIconLocation(properties.icon_path.c_str(), properties.icon_index));
    ComPtr<IPersistFile> file;
    ASSERT_HRESULT_SUCCEEDED(link.query(file));
    ASSERT_HRESULT_SUCCEEDED(file->Save(path.c_str(), TRUE));
}

// Which file is there, and when it was last written.
struct FileStamp {
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
    ULONGLONG written = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> stamp_of(const std::wstring& path) {
    const UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information))
        return std::nullopt;
    return FileStamp{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                     information.nFileIndexLow,
                     ULONGLONG(information.ftLastWriteTime.dwHighDateTime) << 32 |
                         information.ftLastWriteTime.dwLowDateTime};
}

std::vector<std::wstring> temp_shortcuts_in(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const std::wstring& name : folder_entries(folder)) {
        if (name.starts_with(L".orvane-shortcut-"))
            names.push_back(name);
    }
    return names;
}

void on_new_thread(const std::function<void()>& body) {
    std::thread thread(body);
    thread.join();
}

class ShortcutsTest : public ::testing::Test {
  protected:
    // Under Wine, COM's last uninitialisation and the next start are slow; the suite
    // keeps one apartment open, which every operation enters as a nested one.
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }

    void SetUp() override {
        FaultyShellLink::alive = 0;
        for (const std::wstring& folder : {product, launcher_folder, desktop})
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        write_file(bootstrap, "bootstrap");
        write_file(launcher, "launcher");
        write_file(elsewhere, "another program");
    }
    void TearDown() override {
        EXPECT_EQ(FaultyShellLink::alive, 0) << "a shell link was not released";
        for (const std::wstring& folder : {desktop, programs})
            EXPECT_TRUE(temp_shortcuts_in(folder).empty());
    }

    std::wstring at(const std::wstring& folder, std::wstring_view name) const {
        return join_path(folder, name);
    }
    bool points_at(const std::wstring& shortcut, const std::wstring& target) const {
        const auto matches = shortcut_matches(target, shortcut);
        return matches && *matches;
    }
    ShortcutFolders folders() const { return {product, desktop, programs}; }

    ScratchFolder scratch;
    const std::wstring root = normalized_path(scratch.path());
    const std::wstring product = at(root, L"Vantrel");
    const std::wstring launcher_folder = at(product, L"bin");
    const std::wstring bootstrap = at(product, L"Vantrel.exe");
    const std::wstring launcher = at(launcher_folder, L"vantrel-launcher.exe");
    const std::wstring elsewhere = at(root, L"elsewhere.exe");
    const std::wstring desktop = at(root, L"Desktop");
    // Missing, with a missing parent.
    const std::wstring programs = at(root, L"Start Menu\\Programs");
};

TEST_F(ShortcutsTest, WrittenShortcutLoadsBackWithExactlyItsThreeProperties) {
    const std::wstring saved = at(desktop, L"saved.lnk");
    const auto written = write_shortcut(launcher, at(desktop, L"missing.lnk"), saved, false);
    ASSERT_TRUE(written) << written.error().display();
    EXPECT_TRUE(*written);

    const auto link = read_shell_link(saved, create_shell_link);
    ASSERT_TRUE(link && *link);
    const ShellLinkProperties& properties = **link;
    EXPECT_TRUE(same_file_or_missing(properties.target, launcher)) << properties.target;
    EXPECT_TRUE(same_path(properties.working_folder, launcher_folder)) << properties.working_folder;
    EXPECT_EQ(properties.arguments, L"");
    EXPECT_TRUE(same_file_or_missing(properties.icon_path, launcher)) << properties.icon_path;
    EXPECT_EQ(properties.icon_index, 0);

    EXPECT_TRUE(points_at(saved, launcher));
    EXPECT_FALSE(points_at(saved, bootstrap));
    const auto own = is_own_shortcut(product, saved);
    ASSERT_TRUE(own);
    EXPECT_TRUE(*own);

    // Already matching: nothing is written, unless forced.
    const std::wstring again = at(desktop, L"again.lnk");
    const auto skipped = write_shortcut(launcher, saved, again, false);
    ASSERT_TRUE(skipped);
    EXPECT_FALSE(*skipped);
    EXPECT_FALSE(exists(again));
    const auto forced = write_shortcut(launcher, saved, again, true);
    ASSERT_TRUE(forced);
    EXPECT_TRUE(*forced);
    EXPECT_TRUE(points_at(again, launcher));
}

TEST_F(ShortcutsTest, AShortcutToAPathOutsideTheAnsiCodePageIsStillOurOwn) {
    const std::wstring user_product = at(root, L"\u674e\u534e\\Vantrel");
    const std::wstring user_bootstrap = at(user_product, L"Vantrel.exe");
    ASSERT_TRUE(create_folder_tree(user_product));
    write_file(user_bootstrap, "bootstrap");
    const std::wstring saved = at(desktop, L"unicode.lnk");
    ASSERT_TRUE(write_shortcut(user_bootstrap, at(desktop, L"missing.lnk"), saved, false));

    const auto link = read_shell_link(saved, create_shell_link);
    ASSERT_TRUE(link && *link);
    if (!same_path((*link)->target, user_bootstrap) && testing::running_under_wine()) {
        GTEST_SKIP() << "Wine keeps a shell link's target in the ANSI code page only; read "
                        "back as "
                     << path_text((*link)->target) << " (tests/platform-facts.md)";
    }
    EXPECT_TRUE(same_path((*link)->target, user_bootstrap)) << path_text((*link)->target);
    const auto own = is_own_shortcut(user_product, saved);
    ASSERT_TRUE(own);
    EXPECT_TRUE(*own);
}

TEST_F(ShortcutsTest, TargetNamedThroughAnotherFormOfItsPathMatches) {
    std::wstring upper = launcher;
    for (wchar_t& c : upper)
        c = towupper(c);
    std::wstring slashes = launcher;
    std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
    std::wstring short_form(MAX_PATH, L'\0');
    short_form.resize(GetShortPathNameW(launcher.c_str(), short_form.data(), MAX_PATH));
    ASSERT_FALSE(short_form.empty());
    for (const std::wstring& form : {upper, slashes, short_form}) {
        const std::wstring shortcut = at(desktop, L"form.lnk");
        ShellLinkProperties link = link_to(form);
        link.working_folder = launcher_folder;
        save_link(shortcut, link);
        EXPECT_TRUE(points_at(shortcut, launcher)) << path_text(form);
    }
}

TEST_F(ShortcutsTest, MissingTargetMatchesOnlyTheSamePath) {
    const std::wstring missing = at(product, L"missing.exe");
    const std::wstring shortcut = at(desktop, L"missing.lnk");
    save_link(shortcut, link_to(missing));
    EXPECT_TRUE(points_at(shortcut, missing));
    EXPECT_FALSE(points_at(shortcut, at(product, L"also-missing.exe")));
    save_link(shortcut, link_to(at(product, L"also-missing.exe")));
    EXPECT_FALSE(points_at(shortcut, missing));
}

// Each row gives the Start-menu shortcut one property that differs, or none.
TEST_F(ShortcutsTest, ShortcutDifferingInOnePropertyIsRewrittenAndAMatchingOneLeftAlone) {
    const struct {
        const char* name;
        std::function<void(ShellLinkProperties&)> change;
        bool rewritten;
    } cases[] = {
        {"matching", [](ShellLinkProperties&) {}, false},
        {"target", [&](ShellLinkProperties& l) { l.target = elsewhere; }, true},
        {"working folder", [&](ShellLinkProperties& l) { l.working_folder = root; }, true},
        {"arguments", [](ShellLinkProperties& l) { l.arguments = L"--repair"; }, true},
        {"icon", [&](ShellLinkProperties& l) { l.icon_path = elsewhere; }, true},
        {"icon index", [](ShellLinkProperties& l) { l.icon_index = 1; }, true},
    };
    ASSERT_TRUE(CreateDirectoryW(at(root, L"Start Menu").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
    const std::wstring shortcut = at(programs, L"Orvanis Launcher.lnk");
    for (const auto& c : cases) {
        ShellLinkProperties link = link_to(bootstrap);
        c.change(link);
        save_link(shortcut, link);
        const auto before = stamp_of(shortcut);
        const auto before_content = read_file(shortcut);

        const Status updated = update_setup_shortcut(product, desktop, programs);
        ASSERT_TRUE(updated) << c.name << ": " << updated.error().display();
        EXPECT_TRUE(points_at(shortcut, bootstrap)) << c.name;
        if (c.rewritten) {
            EXPECT_NE(read_file(shortcut), before_content) << c.name;
        } else {
            EXPECT_EQ(stamp_of(shortcut), before) << c.name;
        }
        EXPECT_TRUE(temp_shortcuts_in(programs).empty()) << c.name;
    }
}

TEST_F(ShortcutsTest, FilesThatAreNoReadableShellLinkDoNotMatchAndAreRewritten) {
    const std::wstring shortcut = at(desktop, L"Orvanis Launcher.lnk");
    for (const char* content : {"", "not a shell link", "L\0\0\0"}) {
        write_file(shortcut, content);
        const auto matches = shortcut_matches(bootstrap, shortcut);
        ASSERT_TRUE(matches) << matches.error().display();
        EXPECT_FALSE(*matches);
    }
    // A folder in its place does not load either.
    const std::wstring folder = at(desktop, L"folder.lnk");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const auto folder_matches = shortcut_matches(bootstrap, folder);
    ASSERT_TRUE(folder_matches);
    EXPECT_FALSE(*folder_matches);

    // Reads that fail: no match and no error, so the shortcut is rewritten.
    save_link(shortcut, link_to(bootstrap));
    for (const LinkCall call : {LinkCall::Load, LinkCall::GetPath, LinkCall::GetWorkingDirectory,
                                LinkCall::GetArguments, LinkCall::GetIconLocation}) {
        const auto matches = shortcut_matches(bootstrap, shortcut, failing_at(call));
        ASSERT_TRUE(matches) << int(call) << ": " << matches.error().display();
        EXPECT_FALSE(*matches) << int(call);
        const std::wstring saved = at(desktop, L"saved.lnk");
        const auto written = write_shortcut(bootstrap, shortcut, saved, false, failing_at(call));
        ASSERT_TRUE(written);
        EXPECT_TRUE(*written) << int(call);
        EXPECT_TRUE(points_at(saved, bootstrap));
        ASSERT_TRUE(DeleteFileW(saved.c_str()));
    }
    EXPECT_TRUE(points_at(shortcut, bootstrap));
}

TEST_F(ShortcutsTest, ComSetUpFailuresWhileInspectingAreErrors) {
    const std::wstring shortcut = at(desktop, L"Orvanis Launcher.lnk");
    save_link(shortcut, link_to(bootstrap));
    const auto inspected = shortcut_matches(bootstrap, shortcut, no_shell_link);
    ASSERT_FALSE(inspected);
    EXPECT_EQ(
        inspected.error().display(),
        "Bootstrap failed: Could not inspect the desktop shortcut (Windows error 0x80004002).");
    const auto prepared =
        is_own_shortcut(product, shortcut, failing_at(LinkCall::QueryPersistFile));
    ASSERT_FALSE(prepared);
    EXPECT_EQ(
        prepared.error().display(),
        "Bootstrap failed: Could not prepare the desktop shortcut (Windows error 0x80070005).");
    // A missing file is settled before COM is asked.
    const auto missing = shortcut_matches(bootstrap, at(desktop, L"missing.lnk"), no_shell_link);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(*missing);
}

// Each write step fails in turn, under both callers; the previous shortcut (pointing
// elsewhere) must survive whole and no temporary file may remain.
TEST_F(ShortcutsTest, ComFailureWhileWritingIsABootstrapErrorAndKeepsThePreviousShortcut) {
    const struct {
        ShellLinkFactory factory;
        bool previous;  // without a file to inspect, creating the link is the first step
        const char* detail;
    } cases[] = {
        {no_shell_link, false, "Could not create the desktop shortcut (Windows error 0x80004002)."},
        {failing_at(LinkCall::SetPath), true,
         "Could not set shortcut target (Windows error 0x80070005)."},
        {failing_at(LinkCall::SetWorkingDirectory), true,
         "Could not set shortcut folder (Windows error 0x80070005)."},
        {failing_at(LinkCall::SetIconLocation), true,
         "Could not set the Vantrel shortcut icon (Windows error 0x80070005)."},
        {failing_at(LinkCall::QueryPersistFile), true,
         "Could not prepare the desktop shortcut (Windows error 0x80070005)."},
        {failing_at(LinkCall::Save), true,
         "Could not save the desktop shortcut (Windows error 0x80070005)."},
    };
    ASSERT_TRUE(CreateDirectoryW(at(root, L"Start Menu").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
    const std::wstring shortcut = at(programs, L"Orvanis Launcher.lnk");
    const std::wstring desktop_shortcut = at(desktop, L"Orvanis Launcher.lnk");
    for (const auto& c : cases) {
        if (c.previous) {
            save_link(shortcut, link_to(elsewhere));
            save_link(desktop_shortcut, link_to(elsewhere));
        }
        const auto before = read_file(shortcut);
        const auto desktop_before = read_file(desktop_shortcut);
        const Status updated = update_setup_shortcut(product, desktop, programs, c.factory);
        ASSERT_FALSE(updated) << c.detail;
        EXPECT_EQ(updated.error().display(), std::string("Bootstrap failed: ") + c.detail);
        EXPECT_EQ(read_file(shortcut), before) << c.detail;

        const Status refreshed = refresh_launcher_shortcuts(folders(), c.factory);
        ASSERT_FALSE(refreshed) << c.detail;
        EXPECT_EQ(refreshed.error().display(), std::string("Bootstrap failed: ") + c.detail);
        EXPECT_EQ(read_file(desktop_shortcut), desktop_before) << c.detail;
        EXPECT_EQ(read_file(shortcut), before) << c.detail;
        for (const std::wstring& folder : {desktop, programs})
            EXPECT_TRUE(temp_shortcuts_in(folder).empty()) << c.detail;
    }
}

TEST_F(ShortcutsTest, ThreadInTheMultithreadedApartmentCannotUseShortcuts) {
    const std::wstring shortcut = at(desktop, L"Orvanis Launcher.lnk");
    save_link(shortcut, link_to(bootstrap));
    on_new_thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        const char* expected =
            "Bootstrap failed: Could not initialize Windows shortcuts (Windows error 0x80010106).";
        const auto written = write_shortcut(bootstrap, shortcut, at(desktop, L"x.lnk"), true);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().display(), expected);
        const auto matches = shortcut_matches(bootstrap, shortcut);
        ASSERT_FALSE(matches);
        EXPECT_EQ(matches.error().display(), expected);
        CoUninitialize();
    });
}

TEST_F(ShortcutsTest, ThreadWithoutComHasItOnlyDuringEachCall) {
    on_new_thread([&] {
        const std::wstring saved = at(desktop, L"saved.lnk");
        const auto written = write_shortcut(bootstrap, saved, saved, false);
        ASSERT_TRUE(written) << written.error().display();
        EXPECT_TRUE(*written);
        EXPECT_TRUE(points_at(saved, bootstrap));
        // Left again completely: the thread is free to choose its apartment.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

// Gives the names it was told in order, then keeps repeating the last one.
class ScriptedNames final : public NameSource {
  public:
    explicit ScriptedNames(std::vector<std::wstring> names) : names_(std::move(names)) {}
    std::wstring next() override { return names_[std::min(drawn++, names_.size() - 1)]; }
    void reseed() override { reseeded_after = drawn; }

    std::size_t drawn = 0;
    std::size_t reseeded_after = 0;

  private:
    std::vector<std::wstring> names_;
};

TEST_F(ShortcutsTest, TemporaryShortcutTakesAFreeRandomNameAndGoesAwayWhenLetGo) {
    std::wstring path;
    {
        auto temp = create_temp_shortcut(desktop);
        ASSERT_TRUE(temp) << temp.error().text();
        path = temp->path();
        const std::wstring name = *file_name(path);
        ASSERT_EQ(name.size(), 17u + 6u + 4u) << path_text(name);
        EXPECT_TRUE(name.starts_with(L".orvane-shortcut-") && name.ends_with(L".lnk"));
        EXPECT_EQ(name.substr(17, 6).find_first_not_of(random_name_alphabet), std::wstring::npos);
        // Closed: nobody else holds it open.
        const UniqueHandle exclusive(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(exclusive);
        EXPECT_FALSE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_TEMPORARY);
    }
    EXPECT_FALSE(exists(path));

    for (const wchar_t* taken : {L"AAAAAA", L"BBBBBB", L"CCCCCC"})
        write_file(at(desktop, std::wstring(L".orvane-shortcut-") + taken + L".lnk"), "taken");
    ScriptedNames names({L"AAAAAA", L"BBBBBB", L"CCCCCC", L"DDDDDD"});
    auto temp = create_temp_shortcut(desktop, names);
    ASSERT_TRUE(temp) << temp.error().text();
    EXPECT_EQ(*file_name(temp->path()), L".orvane-shortcut-DDDDDD.lnk");
    EXPECT_EQ(names.drawn, 4u);
    EXPECT_EQ(names.reseeded_after, 3u);
    EXPECT_EQ(read_file(at(desktop, L".orvane-shortcut-AAAAAA.lnk")), "taken");
    for (const wchar_t* taken : {L"AAAAAA", L"BBBBBB", L"CCCCCC"})
        DeleteFileW(at(desktop, std::wstring(L".orvane-shortcut-") + taken + L".lnk").c_str());
}

TEST_F(ShortcutsTest, SetupShortcutGoesToTheStartMenuAndOnlyAnOwnDesktopVantrelLinkGoes) {
    const std::wstring vantrel_link = at(desktop, L"Vantrel.lnk");
    const std::wstring older_link = at(desktop, L"Orvane Launcher.lnk");
    const std::wstring current_link = at(desktop, L"Orvanis Launcher.lnk");
    const struct {
        const char* name;
        std::wstring target;
        bool removed;
    } cases[] = {
        {"bootstrap", bootstrap, true},
        {"launcher", launcher, true},
        {"elsewhere", elsewhere, false},
    };
    for (const auto& c : cases) {
        save_link(vantrel_link, link_to(c.target));
        save_link(older_link, link_to(bootstrap));
        save_link(current_link, link_to(elsewhere));
        const auto current_before = stamp_of(current_link);

        const Status updated = update_setup_shortcut(product, desktop, programs);
        ASSERT_TRUE(updated) << c.name << ": " << updated.error().display();
        const std::wstring start_menu_link = at(programs, L"Orvanis Launcher.lnk");
        EXPECT_TRUE(points_at(start_menu_link, bootstrap)) << c.name;
        EXPECT_FALSE(GetFileAttributesW(start_menu_link.c_str()) & FILE_ATTRIBUTE_TEMPORARY);
        EXPECT_EQ(exists(vantrel_link), !c.removed) << c.name;
        // The other names on the desktop are not this step's business.
        EXPECT_TRUE(points_at(older_link, bootstrap)) << c.name;
        EXPECT_EQ(stamp_of(current_link), current_before) << c.name;
        EXPECT_EQ(folder_entries(programs), std::vector<std::wstring>{L"Orvanis Launcher.lnk"});
    }
}

TEST_F(ShortcutsTest, FailedMoveKeepsThePreviousShortcutAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(CreateDirectoryW(at(root, L"Start Menu").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
    const std::wstring shortcut = at(programs, L"Orvanis Launcher.lnk");
    save_link(shortcut, link_to(elsewhere));
    const auto before = read_file(shortcut);
    {
        // Open without sharing, as a program reading it would keep it.
        const UniqueHandle held(
            CreateFileW(shortcut.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const Status updated = update_setup_shortcut(product, desktop, programs);
        ASSERT_FALSE(updated);
        EXPECT_EQ(updated.error().stage(), Stage::Bootstrap);
        EXPECT_TRUE(updated.error().detail().ends_with(")")) << updated.error().display();
        EXPECT_NE(updated.error().detail().find("(os error "), std::string::npos)
            << updated.error().display();
        EXPECT_TRUE(temp_shortcuts_in(programs).empty());
    }
    EXPECT_EQ(read_file(shortcut), before);
}

TEST_F(ShortcutsTest, FolderThatCannotBeMadeIsAFileSystemErrorOfTheCallersStage) {
    write_file(at(root, L"Start Menu"), "a file where a folder belongs");
    const Status updated = update_setup_shortcut(product, desktop, programs);
    ASSERT_FALSE(updated);
    EXPECT_EQ(updated.error().stage(), Stage::Bootstrap) << updated.error().display();
    EXPECT_TRUE(updated.error().detail().ends_with("(os error 183)")) << updated.error().display();

    const Status refreshed = refresh_launcher_shortcuts(folders());
    ASSERT_FALSE(refreshed);
    EXPECT_EQ(refreshed.error().stage(), Stage::Installation) << refreshed.error().display();
    EXPECT_TRUE(refreshed.error().detail().ends_with("(os error 183)"))
        << refreshed.error().display();
    // The Desktop comes first and stays done.
    EXPECT_TRUE(points_at(at(desktop, L"Orvanis Launcher.lnk"), launcher));
}

TEST_F(ShortcutsTest, LinkInAShortcutPathStopsBeforeAnythingIsWritten) {
    const std::wstring real_desktop = at(root, L"real-desktop");
    ASSERT_TRUE(CreateDirectoryW(real_desktop.c_str(), nullptr));
    const std::wstring linked_desktop = at(root, L"linked-desktop");
    const testing::FolderLink link(real_desktop, linked_desktop);
    if (link.failure())
        GTEST_SKIP() << *link.failure();
    save_link(at(real_desktop, L"Vantrel.lnk"), link_to(bootstrap));
    const char* refused =
        "Installation failed: Launcher paths must not contain links or junctions.";

    const Status updated = update_setup_shortcut(product, linked_desktop, programs);
    ASSERT_FALSE(updated);
    EXPECT_EQ(updated.error().display(), refused);
    const Status refreshed = refresh_launcher_shortcuts({product, desktop, linked_desktop});
    ASSERT_FALSE(refreshed);
    EXPECT_EQ(refreshed.error().display(), refused);

    EXPECT_FALSE(exists(programs));
    EXPECT_EQ(folder_entries(desktop), std::vector<std::wstring>{});
    EXPECT_EQ(folder_entries(real_desktop), std::vector<std::wstring>{L"Vantrel.lnk"});
}

TEST_F(ShortcutsTest, RefreshPointsBothShortcutsAtTheLauncherAndRemovesOwnOlderNames) {
    // Older names in both folders: pointing at the bootstrap, the launcher, elsewhere.
    const struct {
        std::wstring folder;
        const wchar_t* name;
        std::wstring target;
        bool removed;
    } older[] = {
        {desktop, L"Vantrel.lnk", bootstrap, true},
        {desktop, L"Orvane Launcher.lnk", elsewhere, false},
        {programs, L"Vantrel.lnk", elsewhere, false},
        {programs, L"Orvane Launcher.lnk", launcher, true},
    };
    ASSERT_TRUE(CreateDirectoryW(at(root, L"Start Menu").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
    for (const auto& o : older)
        save_link(at(o.folder, o.name), link_to(o.target));
    save_link(at(desktop, L"Orvanis Launcher.lnk"), link_to(bootstrap));

    const Status refreshed = refresh_launcher_shortcuts(folders());
    ASSERT_TRUE(refreshed) << refreshed.error().display();
    for (const std::wstring& folder : {desktop, programs}) {
        const std::wstring shortcut = at(folder, L"Orvanis Launcher.lnk");
        EXPECT_TRUE(points_at(shortcut, launcher)) << path_text(folder);
        const auto link = read_shell_link(shortcut, create_shell_link);
        ASSERT_TRUE(link && *link);
        EXPECT_TRUE(same_path((*link)->working_folder, launcher_folder));
    }
    for (const auto& o : older) {
        EXPECT_EQ(exists(at(o.folder, o.name)), !o.removed) << path_text(at(o.folder, o.name));
        if (!o.removed) {
            EXPECT_TRUE(points_at(at(o.folder, o.name), o.target));
        }
    }
    // Both locks were let go of.
    EXPECT_TRUE(acquire_lock(product, L".bootstrap-install.lock", Stage::Installation));
    EXPECT_TRUE(acquire_lock(launcher_folder, L".launcher-setup.lock", Stage::Installation));

    // A second run finds nothing to do.
    const auto desktop_stamp = stamp_of(at(desktop, L"Orvanis Launcher.lnk"));
    ASSERT_TRUE(refresh_launcher_shortcuts(folders()));
    EXPECT_EQ(stamp_of(at(desktop, L"Orvanis Launcher.lnk")), desktop_stamp);
}

TEST_F(ShortcutsTest, RefreshNeedsBothInstalledFilesAndChangesNothingWithoutThem) {
    for (const std::wstring& missing : {launcher, bootstrap}) {
        const std::wstring aside = missing + L".aside";
        ASSERT_TRUE(MoveFileW(missing.c_str(), aside.c_str()));
        const Status refreshed = refresh_launcher_shortcuts(folders());
        ASSERT_FALSE(refreshed);
        EXPECT_EQ(refreshed.error().display(),
                  "Installation failed: The installed launcher or setup is missing.");
        EXPECT_EQ(folder_entries(desktop), std::vector<std::wstring>{});
        EXPECT_FALSE(exists(programs));
        EXPECT_FALSE(exists(at(product, L".bootstrap-install.lock")));
        ASSERT_TRUE(MoveFileW(aside.c_str(), missing.c_str()));
    }
}

TEST_F(ShortcutsTest, RefreshFailsAtOnceWhileEitherLockIsHeld) {
    const struct {
        std::wstring folder;
        const wchar_t* name;
    } locks[] = {{product, L".bootstrap-install.lock"}, {launcher_folder, L".launcher-setup.lock"}};
    for (const auto& held : locks) {
        const auto lock = acquire_lock(held.folder, held.name, Stage::Bootstrap);
        ASSERT_TRUE(lock);
        const Status refreshed = refresh_launcher_shortcuts(folders());
        ASSERT_FALSE(refreshed);
        EXPECT_EQ(refreshed.error().stage(), Stage::Installation);
        EXPECT_TRUE(refreshed.error().detail().starts_with(
            "Another setup may be running, or the install folder is not writable. "))
            << refreshed.error().display();
        EXPECT_EQ(folder_entries(desktop), std::vector<std::wstring>{});
        EXPECT_FALSE(exists(programs));
    }
    // The bootstrap lock taken before the launcher lock failed was let go of.
    EXPECT_TRUE(acquire_lock(product, L".bootstrap-install.lock", Stage::Installation));
}

TEST_F(ShortcutsTest, RefreshFailureInTheStartMenuKeepsWhatTheDesktopGot) {
    ASSERT_TRUE(CreateDirectoryW(at(root, L"Start Menu").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
    const std::wstring start_menu_link = at(programs, L"Orvanis Launcher.lnk");
    save_link(start_menu_link, link_to(elsewhere));
    save_link(at(desktop, L"Vantrel.lnk"), link_to(bootstrap));
    const auto before = read_file(start_menu_link);
    {
        const UniqueHandle held(CreateFileW(start_menu_link.c_str(), GENERIC_READ, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const Status refreshed = refresh_launcher_shortcuts(folders());
        ASSERT_FALSE(refreshed);
        EXPECT_EQ(refreshed.error().stage(), Stage::Installation);
        EXPECT_NE(refreshed.error().detail().find("(os error "), std::string::npos)
            << refreshed.error().display();
    }
    EXPECT_EQ(read_file(start_menu_link), before);
    EXPECT_TRUE(points_at(at(desktop, L"Orvanis Launcher.lnk"), launcher));
    EXPECT_FALSE(exists(at(desktop, L"Vantrel.lnk")));
}

TEST_F(ShortcutsTest, OlderShortcutThatCannotBeDeletedIsAnError) {
    const std::wstring older = at(desktop, L"Orvane Launcher.lnk");
    save_link(older, link_to(launcher));
    ASSERT_TRUE(SetFileAttributesW(older.c_str(), FILE_ATTRIBUTE_READONLY));
    const Status refreshed = refresh_launcher_shortcuts(folders());
    SetFileAttributesW(older.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_FALSE(refreshed);
    EXPECT_EQ(refreshed.error().stage(), Stage::Installation);
    EXPECT_TRUE(refreshed.error().detail().ends_with("(os error 5)"))
        << refreshed.error().display();
    EXPECT_TRUE(points_at(older, launcher));
    // The Desktop's shortcut was done before; the Start menu was not reached.
    EXPECT_TRUE(points_at(at(desktop, L"Orvanis Launcher.lnk"), launcher));
    EXPECT_FALSE(exists(programs));
}

// Removes a folder tree that a test made in the user's own folders.
struct RemovedAtEnd {
    ~RemovedAtEnd() { EXPECT_TRUE(remove_folder_tree(folder)); }
    std::wstring folder;
};

// The user's own folders: in a disposable test prefix, with everything made here removed.
TEST(ShortcutsInUserFolders, RefreshUsesTheProductFolderAndTheUsersKnownFolders) {
    const auto product = product_folder();
    const auto desktop = known_folder(FOLDERID_Desktop, "Desktop");
    const auto programs = known_folder(FOLDERID_Programs, "Start menu");
    ASSERT_TRUE(product && desktop && programs);
    if (exists(*product))
        GTEST_SKIP() << "this system has a product folder of its own: " << path_text(*product);
    const std::wstring shortcuts[] = {join_path(*desktop, L"Orvanis Launcher.lnk"),
                                      join_path(*programs, L"Orvanis Launcher.lnk")};
    for (const std::wstring& shortcut : shortcuts) {
        if (exists(shortcut))
            GTEST_SKIP() << "this user has a shortcut of the product: " << path_text(shortcut);
    }

    const Status desktop_safe = ensure_no_links(shortcuts[0]);
    if (!desktop_safe) {
        // Wine's default prefix links the Desktop to the unix home folder: refused
        // before anything is made.
        const Status refreshed = refresh_launcher_shortcuts();
        ASSERT_FALSE(refreshed);
        EXPECT_EQ(refreshed.error().display(), desktop_safe.error().display());
        EXPECT_FALSE(exists(*product));
        return;
    }
    ASSERT_TRUE(CreateDirectoryW(product->c_str(), nullptr));
    const RemovedAtEnd made{*product};
    const std::wstring bin = join_path(*product, L"bin");
    ASSERT_TRUE(CreateDirectoryW(bin.c_str(), nullptr));
    const std::wstring launcher = join_path(bin, L"vantrel-launcher.exe");
    write_file(join_path(*product, L"Vantrel.exe"), "bootstrap");
    write_file(launcher, "launcher");

    const Status refreshed = refresh_launcher_shortcuts();
    EXPECT_TRUE(refreshed) << refreshed.error().display();
    for (const std::wstring& shortcut : shortcuts) {
        const auto matches = shortcut_matches(launcher, shortcut);
        EXPECT_TRUE(matches && *matches) << path_text(shortcut);
        DeleteFileW(shortcut.c_str());
    }
}

}  // namespace
}  // namespace vantrel
