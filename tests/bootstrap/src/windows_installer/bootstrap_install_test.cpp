// The bootstrap install or repair on a real disk and registry under Wine: every
// outcome of the transaction, with what it leaves of the installed bootstrap B, the
// desktop shortcut DS, the recovery folder R, the temporary shortcut TS and the Apps
// entry. The programs are copies of the fixture launcher, which a start with
// "--console" ends at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bootstrap_test_support.hpp"
#include "lib/bootstrap_install.hpp"
#include "scripted_failures.hpp"
#include "support/windows_test_support.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/setup_locks.hpp"
#include "windows/shortcuts.hpp"
#include "windows/unique_handle.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/apps_entry.hpp"

namespace vantrel {
namespace {

enum class Before { Nothing, OldInstall };
enum class Program { New, Installed, SameContent };
enum class Bootstrap { None, Old, New };

constexpr BootstrapOptions console{true, true};
constexpr BootstrapOptions wizard{false, false};

struct Row {
    const char* name;
    Before before;
    Program program;
    BootstrapOptions options;
    std::vector<std::string> failing;
    std::optional<bool> restarted;  // nothing: the run fails with a Bootstrap error
    std::string detail;             // "{R}" stands for the kept recovery folder's path
    Bootstrap bootstrap;
    bool recovery_kept;
    bool registered;
};

void delete_apps_entry() {
    RegDeleteTreeW(HKEY_CURRENT_USER, to_wide(apps_entry_key_path).c_str());
}

bool apps_entry_exists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, to_wide(apps_entry_key_path).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Registration only accepts the user's own product folder, so the rows install there;
// the Desktop and the Start menu are scratch folders.
class BootstrapInstall : public ::testing::Test {
  protected:
    void SetUp() override {
        product = product_folder().value();
        if (testing::exists(product) || apps_entry_exists()) {
            GTEST_SKIP() << "this user already has a product folder or an Apps entry, which the "
                            "test would replace";
        }
        owns_product = true;
    }

    void TearDown() override {
        if (!owns_product)
            return;
        delete_apps_entry();
        // A copy started by the previous row may still be running from the folder.
        for (int attempt = 0; attempt < 250 && testing::exists(product); ++attempt) {
            if (!remove_folder_tree(product))
                Sleep(20);
        }
        ASSERT_FALSE(testing::exists(product));
    }

    void start_row(Before before, Program program_kind) {
        TearDown();
        scratch = std::make_unique<testing::ScratchFolder>();
        folders = {product, scratch->file(L"Desktop"), scratch->file(L"Programs")};
        bootstrap = join_path(folders.product, layout::bootstrap_file_name);
        CreateDirectoryW(scratch->file(L"Downloads").c_str(), nullptr);
        const std::wstring old_program = scratch->file(L"Downloads\\OldSetup.exe");
        testing::write_file(old_program, old_bytes);
        if (before == Before::OldInstall) {
            WindowsBootstrapSteps steps(BootstrapPlaces{old_program, folders});
            const Result<bool> installed = install_or_repair_bootstrap(wizard, steps);
            ASSERT_TRUE(installed) << installed.error().display();
            ASSERT_TRUE(apps_entry_exists());
        }
        switch (program_kind) {
            case Program::New:
                program = scratch->file(L"Downloads\\NewSetup.exe");
                testing::write_file(program, new_bytes);
                break;
            case Program::Installed:
                program = bootstrap;
                break;
            case Program::SameContent:
                program = old_program;
                break;
        }
    }

    Result<bool> run(const BootstrapOptions& options, const std::vector<std::string>& failing) {
        WindowsBootstrapSteps real(BootstrapPlaces{program, folders});
        testing::ScriptedBootstrapSteps steps(real);
        steps.fail(failing);
        return install_or_repair_bootstrap(options, steps);
    }

    Bootstrap installed() const {
        const std::optional<std::string> content = testing::read_file(bootstrap);
        if (!content)
            return Bootstrap::None;
        EXPECT_TRUE(*content == old_bytes || *content == new_bytes);
        return *content == new_bytes ? Bootstrap::New : Bootstrap::Old;
    }

    std::vector<std::wstring> entries_starting(const std::wstring& folder,
                                               std::wstring_view prefix) const {
        std::vector<std::wstring> found;
        for (const std::wstring& name : testing::folder_entries(folder)) {
            if (name.starts_with(prefix))
                found.push_back(join_path(folder, name));
        }
        return found;
    }

    const std::string fixture = *testing::read_file(testing::test_program_path("fixture_launcher"));
    const std::string old_bytes = fixture + "old setup";
    const std::string new_bytes = fixture + "new setup";
    std::wstring product;
    bool owns_product = false;
    std::unique_ptr<testing::ScratchFolder> scratch;
    ShortcutFolders folders;
    std::wstring bootstrap;
    std::wstring program;
};

const std::string injected(testing::injected_failure);
const std::string rolled_back_prefix = "Bootstrap failed: " + injected;
const std::string shortcut_failure(testing::shortcut_restore_failure);
constexpr auto old_install = Before::OldInstall;

// clang-format off
const Row rows[] = {
    // name                        before           program               options  failing                              restarted     detail                                                                                                      B                   R kept  registered
    {"first install, console",     Before::Nothing, Program::New,         console, {},                                  true,         "",                                                                                                         Bootstrap::New,     false,  false},
    {"first install, wizard",      Before::Nothing, Program::New,         wizard,  {},                                  false,        "",                                                                                                         Bootstrap::New,     false,  true},
    {"the installed copy",         old_install,     Program::Installed,   console, {},                                  false,        "",                                                                                                         Bootstrap::Old,     false,  true},
    {"same content, console",      old_install,     Program::SameContent, console, {},                                  true,         "",                                                                                                         Bootstrap::Old,     false,  true},
    {"same content, wizard",       old_install,     Program::SameContent, wizard,  {},                                  false,        "",                                                                                                         Bootstrap::Old,     false,  true},
    {"a new copy, console",        old_install,     Program::New,         console, {},                                  true,         "",                                                                                                         Bootstrap::New,     false,  true},
    {"program path",               old_install,     Program::New,         console, {"program path"},                    std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"recovery folder",            old_install,     Program::New,         console, {"recovery folder"},                 std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"lock",                       old_install,     Program::New,         console, {"lock"},                            std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"claim",                      old_install,     Program::New,         console, {"claim"},                           std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"copy",                       old_install,     Program::New,         console, {"copy"},                            std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"bootstrap backup",           old_install,     Program::New,         console, {"back up bootstrap"},               std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"shortcut write",             old_install,     Program::New,         console, {"shortcut write"},                  std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"shortcut backup",            old_install,     Program::New,         console, {"back up shortcut"},                std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"bootstrap move",             old_install,     Program::New,         console, {"move bootstrap"},                  std::nullopt, "Close Vantrel and retry. " + injected,                                                                     Bootstrap::Old,     false,  true},
    {"shortcut move",              old_install,     Program::New,         console, {"move shortcut"},                   std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"bootstrap move, no restore", old_install,     Program::New,         console, {"move bootstrap", "restore bootstrap"}, std::nullopt, "Close Vantrel and retry. " + injected,                                                                 Bootstrap::Old,     false,  true},
    {"shortcut move, first install", Before::Nothing, Program::New,       console, {"move shortcut"},                   std::nullopt, injected,                                                                                                   Bootstrap::None,    false,  false},
    {"shortcut move, unknown state", old_install,   Program::New,         console, {"move shortcut", "staged query"},   std::nullopt, rolled_back_prefix + " Bootstrap rollback failed: " + injected + ". Recovery files are in {R}",          Bootstrap::New,     true,   true},
    {"shortcut move, no rollback", old_install,     Program::New,         console, {"move shortcut", "restore bootstrap"}, std::nullopt, rolled_back_prefix + " Bootstrap rollback failed: " + injected + ". Recovery files are in {R}",          Bootstrap::New,     true,   true},
    {"start",                      old_install,     Program::New,         console, {"start"},                           std::nullopt, injected,                                                                                                   Bootstrap::Old,     false,  true},
    {"start, first install",       Before::Nothing, Program::New,         console, {"start"},                           std::nullopt, injected,                                                                                                   Bootstrap::None,    false,  false},
    {"start, lock not taken back", old_install,     Program::New,         console, {"start", "lock again"},             std::nullopt, rolled_back_prefix + " Recovery could not acquire the installation lock: " + rolled_back_prefix + ". Recovery files are in {R}", Bootstrap::New, true, true},
    {"start, newer setup ran",     old_install,     Program::New,         console, {"start", "claim taken"},            std::nullopt, rolled_back_prefix + " A newer setup has run; its installation was preserved.",                              Bootstrap::New,     false,  true},
    {"start, no rollback",         old_install,     Program::New,         console, {"start", "restore bootstrap"},      std::nullopt, rolled_back_prefix + " Repair rollback failed: " + injected + ". Recovery files are in {R}",                 Bootstrap::New,     true,   true},
    {"start, claim unreadable",    old_install,     Program::New,         console, {"start", "claim read"},             std::nullopt, injected,                                                                                                   Bootstrap::New,     false,  true},
    {"start, no shortcut restore", old_install,     Program::New,         console, {"start", "restore shortcut"},       std::nullopt, rolled_back_prefix + " Repair rollback failed: " + shortcut_failure + ". Recovery files are in {R}",         Bootstrap::Old,     true,   true},
    {"start, neither restore",     old_install,     Program::New,         console, {"start", "restore bootstrap", "restore shortcut"}, std::nullopt, rolled_back_prefix + " Repair rollback failed: " + injected + ". Recovery files are in {R}", Bootstrap::New, true,  true},
    {"setup shortcut",             old_install,     Program::New,         wizard,  {"setup shortcut"},                  std::nullopt, injected,                                                                                                   Bootstrap::New,     false,  true},
    {"registration",               old_install,     Program::New,         wizard,  {"register"},                        std::nullopt, injected,                                                                                                   Bootstrap::New,     false,  true},
};
// clang-format on

TEST_F(BootstrapInstall, LeavesFilesAndEntryAsEachOutcomeSays) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        start_row(row.before, row.program);
        if (HasFatalFailure())
            return;

        const Result<bool> result = run(row.options, row.failing);

        const std::vector<std::wstring> kept =
            entries_starting(folders.product, layout::bootstrap_setup_prefix);
        if (row.restarted) {
            ASSERT_TRUE(result) << result.error().display();
            EXPECT_EQ(*result, *row.restarted);
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().stage(), Stage::Bootstrap);
            std::string detail = row.detail;
            if (const std::size_t at = detail.find("{R}"); at != std::string::npos)
                detail.replace(at, 3, kept.empty() ? "" : *from_wide(kept.front()));
            EXPECT_EQ(result.error().detail(), detail);
        }
        EXPECT_EQ(installed(), row.bootstrap);
        const std::wstring shortcut = join_path(folders.desktop, layout::shortcut_name);
        if (row.bootstrap == Bootstrap::None) {
            EXPECT_FALSE(testing::exists(shortcut));
        } else {
            EXPECT_EQ(shortcut_matches(bootstrap, shortcut).value(), true);
        }
        ASSERT_EQ(kept.size(), row.recovery_kept ? 1u : 0u);
        if (row.recovery_kept) {
            // The staged copy has become B; R keeps the backups of B and DS.
            const std::wstring& folder = kept.front();
            EXPECT_TRUE(testing::read_file(join_path(folder, layout::previous_bootstrap_name)) ==
                        old_bytes);
            EXPECT_TRUE(
                shortcut_matches(bootstrap, join_path(folder, layout::previous_shortcut_name))
                    .value());
        }
        EXPECT_TRUE(
            entries_starting(folders.desktop, layout::temp_desktop_shortcut_prefix).empty());
        EXPECT_EQ(apps_entry_exists(), row.registered);
        EXPECT_TRUE(acquire_lock(folders.product, layout::bootstrap_lock_name, Stage::Bootstrap));
    }
}

enum class In { Product, Desktop, Programs };

// Recovery files left by killed runs, and entries that only look like them: folders in
// the product folder, temporary shortcuts on the Desktop.
struct Leftover {
    In in;
    const wchar_t* name;
    bool folder;
    bool stale;  // what a successful run removes
};
const wchar_t* const stale_in_use = L".bootstrap-setup-Ab3dE9";
// clang-format off
const Leftover leftovers[] = {
    {In::Product, stale_in_use,                             true,  true},
    {In::Product, L".bootstrap-setup-x1Y2z3",               true,  true},
    {In::Desktop, L".Vantrel-.bootstrap-setup-x1Y2z3.lnk",  false, true},
    {In::Desktop, L".Vantrel-setup.lnk",                    false, true},
    {In::Product, L".bootstrap-setup-Ab3dE",                true,  false},
    {In::Product, L".bootstrap-setup-Ab3dE9x",              true,  false},
    {In::Product, L".bootstrap-setup-Ab_dE9",               true,  false},
    {In::Product, L".bootstrap-setup-Qw3rT6",               false, false},
    {In::Desktop, L".Vantrel-.bootstrap-setup-Ab3dE.lnk",   false, false},
    {In::Desktop, L".Vantrel-other.lnk",                    false, false},
    {In::Desktop, L".Vantrel-.bootstrap-setup-Qw3rT6.lnk",  true,  false},
};
// clang-format on

enum class Stale { None, Left, InUse, ClaimedElsewhere };

struct SweepRow {
    const char* name;
    Before before;
    Program program;
    BootstrapOptions options;
    std::vector<std::string> failing;
    Stale stale;
    bool all_left;  // the stale files are all still there afterwards
};

// clang-format off
const SweepRow sweep_rows[] = {
    // name                             before           program              options  failing             stale                     all left
    {"the installed copy",              old_install,     Program::Installed,  console, {},                 Stale::Left,              false},
    {"a new copy, wizard",              old_install,     Program::New,        wizard,  {},                 Stale::Left,              false},
    {"first install, wizard",           Before::Nothing, Program::New,        wizard,  {},                 Stale::Left,              false},
    {"handed over: the copy sweeps",    old_install,     Program::New,        console, {},                 Stale::Left,              true},
    {"one still in use",                old_install,     Program::Installed,  console, {},                 Stale::InUse,             false},
    {"failed run",                      old_install,     Program::New,        wizard,  {"move bootstrap"}, Stale::Left,              true},
    {"failed start",                    old_install,     Program::New,        console, {"start"},          Stale::Left,              true},
    {"another run holds its claim",     old_install,     Program::Installed,  console, {},                 Stale::ClaimedElsewhere,  true},
    {"none",                            old_install,     Program::Installed,  console, {},                 Stale::None,              false},
};
// clang-format on

TEST_F(BootstrapInstall, ASuccessfulRunRemovesTheRecoveryFilesOfEarlierRuns) {
    for (const SweepRow& row : sweep_rows) {
        SCOPED_TRACE(row.name);
        start_row(row.before, row.program);
        if (HasFatalFailure())
            return;
        CreateDirectoryW(folders.product.c_str(), nullptr);
        CreateDirectoryW(folders.desktop.c_str(), nullptr);
        const std::wstring backup =
            join_path(join_path(folders.product, stale_in_use), layout::previous_bootstrap_name);
        std::vector<std::wstring> left;
        for (const Leftover& entry :
             row.stale == Stale::None ? std::span<const Leftover>() : std::span(leftovers)) {
            const std::wstring path =
                join_path(entry.in == In::Product ? folders.product : folders.desktop, entry.name);
            if (entry.folder)
                CreateDirectoryW(path.c_str(), nullptr);
            else
                testing::write_file(path, "a file");
            if (!entry.stale || row.all_left ||
                (row.stale == Stale::InUse && std::wstring_view(entry.name) == stale_in_use)) {
                left.push_back(entry.name);
            }
        }
        std::optional<UniqueHandle> held;
        std::optional<SetupLock> other_run;
        if (row.stale != Stale::None)
            testing::write_file(backup, old_bytes);
        if (row.stale == Stale::InUse) {
            held.emplace(CreateFileW(backup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(held->valid());
        }
        if (row.stale == Stale::ClaimedElsewhere) {
            auto lock =
                acquire_lock(folders.product, layout::bootstrap_lock_name, Stage::Bootstrap);
            ASSERT_TRUE(lock);
            other_run.emplace(std::move(lock).value());
            ASSERT_TRUE(record_claim(*other_run, ".bootstrap-setup-x1Y2z3"));
        }

        const Result<bool> result = run(row.options, row.failing);

        EXPECT_EQ(result.ok(), row.failing.empty() && row.stale != Stale::ClaimedElsewhere);
        std::vector<std::wstring> found =
            entries_starting(folders.product, layout::bootstrap_setup_prefix);
        for (std::wstring& path :
             entries_starting(folders.desktop, layout::temp_desktop_shortcut_prefix))
            found.push_back(std::move(path));
        for (std::wstring& path : found)
            path = file_name(path).value_or(path);
        std::sort(found.begin(), found.end());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(found, left);
    }
}

struct CheckedPath {
    In in;
    const wchar_t* name;
};

// Every path the run may touch, in the order it checks them for links.
// clang-format off
const CheckedPath checked_paths[] = {
    {In::Product,  L"Vantrel.exe"},
    {In::Product,  L"bin"},
    {In::Product,  L"bin\\vantrel-launcher.exe"},
    {In::Product,  L"bin\\.launcher-setup.lock"},
    {In::Product,  L"bin\\.launcher-verified-cache"},
    {In::Product,  L".bootstrap-install.lock"},
    {In::Desktop,  L"Orvanis Launcher.lnk"},
    {In::Desktop,  L"Vantrel.lnk"},
    {In::Desktop,  L"Orvane Launcher.lnk"},
    {In::Programs, L"Orvanis Launcher.lnk"},
    {In::Programs, L"Orvane Launcher.lnk"},
};
// clang-format on

// A link at each path in turn: the run is refused there, after the paths before it and
// before any later one, and before it creates anything.
TEST(BootstrapInstallLinks, RefusesALinkAtEachPathInItsOrder) {
    testing::ScratchFolder scratch;
    const ShortcutFolders folders{scratch.file(L"Vantrel"), scratch.file(L"Desktop"),
                                  scratch.file(L"Programs")};
    std::vector<std::wstring> paths;
    for (const CheckedPath& checked : checked_paths) {
        const std::wstring& folder = checked.in == In::Product   ? folders.product
                                     : checked.in == In::Desktop ? folders.desktop
                                                                 : folders.programs;
        paths.push_back(join_path(folder, checked.name));
    }
    for (std::size_t link = 0; link < paths.size(); ++link) {
        SCOPED_TRACE(path_text(paths[link]));
        // The checked paths in the order they are first looked at.
        std::vector<std::wstring> seen;
        const MetadataQuery query = [&](const std::wstring& path) {
            for (const std::wstring& checked : paths) {
                if (same_path(path, checked) &&
                    std::find(seen.begin(), seen.end(), checked) == seen.end()) {
                    seen.push_back(checked);
                }
            }
            if (same_path(path, paths[link]))
                return LinkMetadata{0, FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK};
            return LinkMetadata{ERROR_FILE_NOT_FOUND, 0, std::nullopt};
        };
        WindowsBootstrapSteps steps(BootstrapPlaces{scratch.file(L"Setup.exe"), folders}, query);

        const Result<bool> result = install_or_repair_bootstrap(console, steps);

        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().stage(), Stage::Installation);
        EXPECT_EQ(result.error().detail(), links_refused_message);
        EXPECT_EQ(seen, std::vector(paths.begin(), paths.begin() + std::ptrdiff_t(link) + 1));
        EXPECT_FALSE(testing::exists(folders.product));
    }
}

}  // namespace
}  // namespace vantrel
