// The launcher update on a real disk under Wine: every failure row of what is left on
// disk, and the progress events of both forms, with the fixture launcher as the
// release's launcher and the release tree in memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "lib/manifest.hpp"
#include "lib/update_pipeline.hpp"
#include "lib/verified_cache.hpp"
#include "support/windows_test_support.hpp"
#include "update_test_support.hpp"
#include "windows/install_layout.hpp"
#include "windows/setup_locks.hpp"
#include "windows/unique_handle.hpp"
#include "windows/verified_cache_file.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/windows_update_steps.hpp"

namespace vantrel {
namespace {

using testing::fixture_launcher_release;
using testing::ReleaseTree;
using K = ProgressKind;

constexpr std::string_view old_version = "1.0.0";
constexpr std::string_view new_version = "1.1.0";
const std::string archive = "vantrel-launcher-1.1.0-x86_64-windows.tar.gz";

// What is installed before the run.
enum class Before {
    Nothing,
    OldRelease,
    NewWithoutCache,
    NewRelease,
    NewCacheOnly,      // the new release's cache, no launcher file
    NewCacheByFolder,  // the new release's cache, a folder at the launcher path
};
// The launcher file afterwards.
enum class Launcher { None, Old, New };
// The cache file afterwards.
enum class Cache { Unchanged, New };

class UpdatePipeline : public ::testing::Test {
  protected:
    // Each row starts from folders of its own, with the old and the new release
    // published and the state before the run in place.
    void start_row(Before before, std::string_view new_mode = {}) {
        scratch = std::make_unique<testing::ScratchFolder>();
        product = scratch->file(L"Vantrel");
        desktop = scratch->file(L"Desktop");
        programs = scratch->file(L"Programs");
        launcher_folder = join_path(product, layout::launcher_folder_name);
        launcher = join_path(launcher_folder, L"vantrel-launcher.exe");
        cache = join_path(launcher_folder, layout::verified_cache_name);
        for (const std::wstring* folder : {&product, &desktop, &programs})
            CreateDirectoryW(folder->c_str(), nullptr);
        // The shortcut refresh wants a bootstrap to point the setup's links at.
        testing::write_file(join_path(product, layout::bootstrap_file_name), "bootstrap");

        tree = {};
        old_files = tree.publish(old_version, old_launcher);
        new_launcher = fixture_launcher_release(new_version, new_mode);
        new_files = tree.publish(new_version, new_launcher);

        if (before == Before::Nothing)
            return;
        CreateDirectoryW(launcher_folder.c_str(), nullptr);
        const bool old = before == Before::OldRelease;
        if (before == Before::NewCacheByFolder)
            CreateDirectoryW(launcher.c_str(), nullptr);
        else if (before != Before::NewCacheOnly)
            testing::write_file(launcher, text(old ? old_launcher : new_launcher));
        if (before != Before::NewWithoutCache) {
            ASSERT_TRUE(write_verified_cache(cache, old ? old_files : new_files));
        }
    }

    UpdateResult run(PipelineForm form, std::vector<std::string> failing = {}) {
        WindowsUpdateSteps real(ShortcutFolders{product, desktop, programs});
        testing::ScriptedSteps steps(real, tree);
        steps.fail(std::move(failing));
        reporter = {};
        return update_launcher(reporter, form, steps);
    }

    static std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

    std::vector<std::wstring> run_folders() const {
        std::vector<std::wstring> found;
        for (const std::wstring& name : testing::folder_entries(launcher_folder)) {
            if (name.starts_with(layout::launcher_setup_prefix))
                found.push_back(join_path(launcher_folder, name));
        }
        return found;
    }

    Launcher installed_launcher() const {
        const std::optional<std::string> installed = testing::read_file(launcher);
        if (!installed)
            return Launcher::None;
        if (*installed == text(new_launcher))
            return Launcher::New;
        EXPECT_EQ(*installed, text(old_launcher));
        return Launcher::Old;
    }

    std::unique_ptr<testing::ScratchFolder> scratch;
    std::wstring product, desktop, programs, launcher_folder, launcher, cache;
    const Bytes old_launcher = fixture_launcher_release(old_version);
    Bytes new_launcher;
    ReleaseTree tree;
    ReleaseFiles old_files;
    ReleaseFiles new_files;
    testing::RecordingReporter reporter;
};

struct FailureRow {
    const char* name;
    Before before;
    PipelineForm form;
    std::vector<std::string> failing;  // "tamper" changes the package on the host instead
    std::optional<Stage> stage;        // nothing: the run succeeds
    std::string detail;                // "{T}" stands for the kept run folder's path
    Launcher launcher;
    bool run_folder_kept;
    Cache cache;
};

constexpr auto console = PipelineForm::Console;
constexpr auto wizard = PipelineForm::Wizard;
constexpr auto installation = Stage::Installation;
constexpr auto network = Stage::Network;
constexpr auto launch = Stage::Launch;
constexpr auto old_release = Before::OldRelease;
constexpr auto same = Before::NewWithoutCache;
constexpr auto current = Before::NewRelease;
constexpr auto nothing = Before::Nothing;
const std::string injected(testing::injected_failure);
const std::string recovery_failed = "Launch failed: " + injected +
                                    " Recovery could not finish: " + injected +
                                    ". Your previous launcher is retained in {T}";

// One line per row of what is on disk after a failure at each step.
// clang-format off
const FailureRow failure_rows[] = {
    // name                     before       form     failing steps                       stage          detail                             launcher        kept   cache
    {"known folder",            old_release, console, {"find folder"},                     installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"built-in key",            old_release, console, {"key"},                             Stage::Verification, "",                          Launcher::Old,  false, Cache::Unchanged},
    {"launcher folder",         old_release, console, {"create folder"},                   installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"current: regular file",   current,     console, {"check installed"},                 installation,  injected,                          Launcher::New,  false, Cache::Unchanged},
    {"current: console start",  current,     console, {"start"},                           launch,        injected,                          Launcher::New,  false, Cache::Unchanged},
    {"cache, no launcher",      Before::NewCacheOnly, console, {},                         std::nullopt,  "",                                Launcher::New,  false, Cache::New},
    {"package download",        old_release, console, {"download " + archive},             network,       injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"checksum download",       old_release, console, {"download " + archive + ".sha256"}, network,       injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"signature download",      old_release, console, {"download " + archive + ".minisig"}, network,      injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"checksum sig download",   old_release, console, {"download " + archive + ".sha256.minisig"}, network, injected,                       Launcher::Old,  false, Cache::Unchanged},
    {"tampered package",        old_release, console, {"tamper"},                          Stage::Verification, "",                          Launcher::Old,  false, Cache::Unchanged},
    {"same: regular file",      same,        console, {"check installed"},                 installation,  injected,                          Launcher::New,  false, Cache::Unchanged},
    {"same: probe",             same,        console, {"probe installed"},                 installation,  injected,                          Launcher::New,  false, Cache::Unchanged},
    {"same: console start",     same,        console, {"start"},                           launch,        injected,                          Launcher::New,  false, Cache::New},
    {"run folder",              old_release, console, {"create run folder"},               installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"staging write",           old_release, console, {"write staged"},                    installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"flush",                   old_release, console, {"flush staged"},                    installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"staged regular file",     old_release, console, {"check staged"},                    installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"staged probe",            old_release, console, {"probe staged"},                    installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"existence query",         old_release, console, {"exists"},                          installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"backup",                  old_release, console, {"back up"},                         installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
    {"rename",                  old_release, wizard,  {"move"},                            installation,  "",                                Launcher::Old,  false, Cache::Unchanged},
    {"rename",                  old_release, console, {"move"},                            installation,  "Close the launcher and retry. " + injected, Launcher::Old, false, Cache::Unchanged},
    {"installed regular file",  old_release, console, {"check installed"},                 installation,  injected,                          Launcher::New,  false, Cache::Unchanged},
    {"cache write",             old_release, console, {"write cache"},                     std::nullopt,  "",                                Launcher::New,  false, Cache::Unchanged},
    {"start, restored",         old_release, console, {"start"},                           launch,        injected,                          Launcher::Old,  false, Cache::New},
    {"start, none before",      nothing,     console, {"start"},                           launch,        injected,                          Launcher::None, false, Cache::New},
    {"start, recovery failed",  old_release, console, {"start", "restore"},                installation,  recovery_failed,                   Launcher::New,  true,  Cache::New},
    {"start, delete failed",    nothing,     console, {"start", "restore"},                installation,  recovery_failed,                   Launcher::New,  true,  Cache::New},
    {"shortcuts",               old_release, wizard,  {"shortcuts"},                       installation,  "",                                Launcher::New,  false, Cache::New},
    {"lock",                    old_release, console, {"lock"},                            installation,  injected,                          Launcher::Old,  false, Cache::Unchanged},
};
// clang-format on

TEST_F(UpdatePipeline, LeavesTheDiskAsEachFailureRowSays) {
    for (const FailureRow& row : failure_rows) {
        SCOPED_TRACE(row.name);
        start_row(row.before);
        const std::optional<std::string> cache_before = testing::read_file(cache);
        std::vector<std::string> failing = row.failing;
        if (failing == std::vector<std::string>{"tamper"}) {
            Bytes package = new_files.package;
            package[package.size() / 2] ^= 1;
            tree.replace(artifact_path(new_version, archive), package);
            failing.clear();
        }

        const UpdateResult result = run(row.form, failing);

        const std::vector<std::wstring> kept = run_folders();
        if (!row.stage) {
            EXPECT_TRUE(result.ok());
        } else if (result.ok()) {
            ADD_FAILURE() << "the run succeeded";
        } else if (row.form == wizard) {
            EXPECT_EQ(std::get<std::string_view>(result.error()), user_message(*row.stage));
        } else {
            const Error& error = std::get<Error>(result.error());
            EXPECT_EQ(error.stage(), *row.stage) << error.display();
            std::string detail = row.detail;
            if (const std::size_t at = detail.find("{T}"); at != std::string::npos)
                detail.replace(at, 3, kept.empty() ? "" : *from_wide(kept.front()));
            if (!row.detail.empty()) {
                EXPECT_EQ(error.detail(), detail);
            }
        }
        EXPECT_EQ(installed_launcher(), row.launcher);
        ASSERT_EQ(kept.size(), row.run_folder_kept ? 1u : 0u);
        if (row.run_folder_kept && row.before == Before::OldRelease) {
            EXPECT_EQ(testing::read_file(join_path(kept.front(), layout::previous_launcher_name)),
                      text(old_launcher));
        }
        if (row.cache == Cache::Unchanged) {
            EXPECT_EQ(testing::read_file(cache), cache_before);
        } else {
            IoResult<ReleaseFiles> written = read_verified_cache(cache);
            ASSERT_TRUE(written);
            EXPECT_EQ(written->package, new_files.package);
        }
        EXPECT_TRUE(acquire_lock(launcher_folder, layout::launcher_lock_name, installation));
    }
}

// Run folders left by killed runs, and entries that only look like one.
const std::wstring stale_in_use = L".launcher-setup-Ab3dE9";
const std::wstring stale_empty = L".launcher-setup-x1Y2z3";
const std::vector<std::wstring> look_alikes = {L".launcher-setup-Ab3dE", L".launcher-setup-Ab3dE9x",
                                               L".launcher-setup-Ab_dE9",
                                               L".launcher-setup-Qw3rT6"};

struct SweepRow {
    const char* name;
    Before before;
    PipelineForm form;
    std::vector<std::string> failing;
    bool stale;   // the stale folders are there before the run
    bool in_use;  // a file in one of them is open
    std::vector<std::wstring> left;
};

const std::vector<std::wstring> both_stale = {stale_in_use, stale_empty};

// clang-format off
const SweepRow sweep_rows[] = {
    // name                  before       form     failing           stale  in use  left besides the look-alikes
    {"up to date",           current,     console, {},               true,  false,  {}},
    {"new release",          old_release, wizard,  {},               true,  false,  {}},
    {"one still in use",     old_release, console, {},               true,  true,   {stale_in_use}},
    {"failed run",           old_release, console, {"probe staged"}, true,  false,  both_stale},
    {"failed start",         old_release, console, {"start"},        true,  false,  both_stale},
    {"none",                 nothing,     console, {},               false, false,  {}},
};
// clang-format on

TEST_F(UpdatePipeline, ASuccessfulRunRemovesTheRunFoldersOfEarlierRuns) {
    for (const SweepRow& row : sweep_rows) {
        SCOPED_TRACE(row.name);
        start_row(row.before);
        std::optional<UniqueHandle> held;
        std::vector<std::wstring> left = row.left;
        if (row.stale) {
            CreateDirectoryW(launcher_folder.c_str(), nullptr);
            for (const std::wstring& name : both_stale)
                CreateDirectoryW(join_path(launcher_folder, name).c_str(), nullptr);
            const std::wstring backup =
                join_path(join_path(launcher_folder, stale_in_use), layout::previous_launcher_name);
            testing::write_file(backup, text(old_launcher));
            for (const std::wstring& name : look_alikes) {
                const std::wstring path = join_path(launcher_folder, name);
                if (name == look_alikes.back())
                    testing::write_file(path, "a file, not a folder");
                else
                    CreateDirectoryW(path.c_str(), nullptr);
            }
            left.insert(left.end(), look_alikes.begin(), look_alikes.end());
            if (row.in_use) {
                held.emplace(CreateFileW(backup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                ASSERT_TRUE(held->valid());
            }
        }

        const UpdateResult result = run(row.form, row.failing);

        EXPECT_EQ(result.ok(), row.failing.empty());
        std::vector<std::wstring> found;
        for (const std::wstring& name : testing::folder_entries(launcher_folder)) {
            if (name.starts_with(layout::launcher_setup_prefix))
                found.push_back(name);
        }
        std::sort(left.begin(), left.end());
        EXPECT_EQ(found, left);
    }
}

struct EventRow {
    const char* name;
    Before before;
    PipelineForm form;
    const char* new_mode;  // how the new release's launcher behaves
    std::vector<std::string> failing;
    std::vector<K> events;
    std::optional<Stage> stage;
};

const std::vector<K> check = {K::CheckingForUpdate, K::UpdateCheckDone};
// The package reports its progress twice; the three other files report nothing.
const std::vector<K> download = {K::DownloadStarted,  K::DownloadProgress, K::DownloadProgress,
                                 K::DownloadFinished, K::Verifying,        K::Verified};
const std::vector<K> install_events = {K::Installing, K::Installed, K::StartingLauncher};

std::vector<K> joined(std::initializer_list<std::vector<K>> parts) {
    std::vector<K> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<K> up_to_date = joined({check, {K::StartingLauncher}});
const std::vector<K> installed = joined({check, download, install_events});
const std::vector<K> confirmed = joined({check, download, {K::StartingLauncher}});

// clang-format off
const EventRow event_rows[] = {
    // name                      before       form     new launcher     failing          events                                                                stage
    {"first install",            nothing,     console, "",              {},              installed,                                                            std::nullopt},
    {"first install",            nothing,     wizard,  "",              {},              installed,                                                            std::nullopt},
    {"up to date",               Before::NewRelease, console, "",       {},              up_to_date,                                                           std::nullopt},
    {"up to date",               Before::NewRelease, wizard,  "",       {},              up_to_date,                                                           std::nullopt},
    {"up to date, no cache write", Before::NewRelease, console, "",     {"write cache"}, up_to_date,                                                           std::nullopt},
    {"folder at launcher path",  Before::NewCacheByFolder, console, "", {},              joined({check, download, {K::Installing}}),                           installation},
    {"new release",              old_release, console, "",              {},              installed,                                                            std::nullopt},
    {"new release",              old_release, wizard,  "",              {},              installed,                                                            std::nullopt},
    {"same as installed",        same,        console, "",              {},              confirmed,                                                            std::nullopt},
    {"same as installed",        same,        wizard,  "",              {},              confirmed,                                                            std::nullopt},
    {"cache not saved",          old_release, console, "",              {"write cache"}, joined({installed, {K::CacheSaveFailed}}),                            std::nullopt},
    {"failed start, recovered",  old_release, console, "exit-on-start", {},              joined({installed, {K::RestoringPrevious, K::PreviousRestored}}),     launch},
    {"failed start, recovered",  old_release, wizard,  "exit-on-start", {},              installed,                                                            std::nullopt},
    {"failed recovery",          old_release, console, "exit-on-start", {"restore"},     joined({installed, {K::RestoringPrevious}}),                          installation},
    {"failed recovery",          old_release, wizard,  "exit-on-start", {"restore"},     installed,                                                            std::nullopt},
};
// clang-format on

TEST_F(UpdatePipeline, ReportsTheEventsOfEachPathInBothForms) {
    for (const EventRow& row : event_rows) {
        SCOPED_TRACE(std::string(row.name) + (row.form == wizard ? " (wizard)" : " (console)"));
        start_row(row.before, row.new_mode);

        const UpdateResult result = run(row.form, row.failing);

        EXPECT_EQ(reporter.kinds(), row.events);
        EXPECT_EQ(result.ok(), !row.stage);
        if (row.stage && !result.ok()) {
            EXPECT_EQ(std::get<Error>(result.error()).stage(), *row.stage);
        }
        if (row.form == wizard && !row.stage) {
            EXPECT_TRUE(testing::exists(join_path(desktop, layout::shortcut_name)));
        }
    }
}

}  // namespace
}  // namespace vantrel
