// The uninstall request and the uninstall worker on a real disk
// and registry under Wine: a product installed by the real bootstrap install into the
// user's own product folder, with a launcher, its cache, both lock files, the user's
// own files and shortcuts beside the product's. The message boxes are answered by the
// test; the running executable, the temporary folder, the Desktop, the Start menu and
// the clock of the worker's wait are the test's own; removals can be made to fail.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/bootstrap_install.hpp"
#include "lib/install_names.hpp"
#include "support/windows_test_support.hpp"
#include "update_test_support.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/module_path.hpp"
#include "windows/path_components.hpp"
#include "windows/setup_locks.hpp"
#include "windows/shortcuts.hpp"
#include "windows/system_error.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/apps_entry.hpp"
#include "windows_installer/uninstall_request.hpp"
#include "windows_installer/uninstall_worker.hpp"
#include "windows_installer/windows_bootstrap_steps.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

const std::wstring entry_path = to_wide(apps_entry_key_path);

void delete_apps_entry() {
    RegDeleteTreeW(HKEY_CURRENT_USER, entry_path.c_str());
}

bool apps_entry_exists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, entry_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void set_entry_value(const wchar_t* name, std::wstring_view text) {
    RegSetKeyValueW(HKEY_CURRENT_USER, entry_path.c_str(), name, REG_SZ, text.data(),
                    DWORD((text.size() + 1) * sizeof(wchar_t)));
}

std::string system_text(DWORD code) {
    return os_error(code).text();
}

// The message boxes a run showed, answered from a list (then IDOK).
class AnsweredBoxes final : public MessageBoxes {
  public:
    explicit AnsweredBoxes(std::vector<int> answers = {}) : answers_(std::move(answers)) {}

    int show(std::string_view text, UINT flags) override {
        shown.push_back({std::string(text), flags});
        if (answers_.empty())
            return IDOK;
        const int answer = answers_.front();
        answers_.erase(answers_.begin());
        return answer;
    }

    struct Shown {
        std::string text;
        UINT flags;
        bool operator==(const Shown&) const = default;
    };
    std::vector<Shown> shown;

  private:
    std::vector<int> answers_;
};

void PrintTo(const AnsweredBoxes::Shown& box, std::ostream* out) {
    *out << '"' << box.text << "\" flags 0x" << std::hex << box.flags << std::dec;
}

const AnsweredBoxes::Shown confirmation{std::string(uninstall_confirmation_text), 0x124};
const AnsweredBoxes::Shown start_failure{std::string(uninstall_start_failure_text), 0x10};
const AnsweredBoxes::Shown success{std::string(uninstall_success_text), 0x40};
const AnsweredBoxes::Shown finish_failure{std::string(uninstall_finish_failure_text), 0x10};

// Every file under the folders, with its content; folders as "<folder>".
using Snapshot = std::map<std::wstring, std::string>;

// Short enough to read in a failure message: the size and a hash of the content.
std::string summary(const std::optional<std::string>& content) {
    if (!content)
        return "<unreadable>";
    return std::to_string(content->size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>{}(*content));
}

void add_to_snapshot(const std::wstring& root, Snapshot& snapshot) {
    std::error_code error;
    if (!std::filesystem::exists(root, error))
        return;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
        const std::wstring path = entry.path().wstring();
        if (entry.is_directory(error))
            snapshot[path] = "<folder>";
        else
            snapshot[path] = summary(testing::read_file(path));
    }
}

// An installed product in the user's own product folder, with scratch Desktop, Start
// menu and temporary folders. Each row starts from a fresh installation.
class Uninstall : public ::testing::Test {
  public:
    void SetUp() override {
        product = product_folder().value();
        if (testing::exists(product) || apps_entry_exists()) {
            GTEST_SKIP() << "this user already has a product folder or an Apps entry, which the "
                            "test would remove";
        }
        owns_product = true;
    }

    void TearDown() override {
        held.reset();
        held_lock.reset();
        if (!owns_product)
            return;
        delete_apps_entry();
        static_cast<void>(remove_folder_tree(product));
    }

    void install() {
        TearDown();
        scratch = std::make_unique<testing::ScratchFolder>();
        desktop = scratch->file(L"Desktop");
        programs = scratch->file(L"Programs");
        temp = scratch->file(L"Temp\\");
        CreateDirectoryW(temp.c_str(), nullptr);
        CreateDirectoryW(scratch->file(L"Downloads").c_str(), nullptr);
        download = scratch->file(L"Downloads\\Vantrel.exe");
        testing::write_file(download, setup_bytes);
        WindowsBootstrapSteps install_steps(
            BootstrapPlaces{download, {product, desktop, programs}});
        ASSERT_TRUE(install_or_repair_bootstrap({false, false}, install_steps));

        bootstrap = join_path(product, layout::bootstrap_file_name);
        launcher_folder = join_path(product, layout::launcher_folder_name);
        launcher = join_path(launcher_folder, to_wide(launcher_file_name));
        cache = join_path(launcher_folder, layout::verified_cache_name);
        bootstrap_lock = join_path(product, layout::bootstrap_lock_name);
        launcher_lock = join_path(launcher_folder, layout::launcher_lock_name);
        CreateDirectoryW(launcher_folder.c_str(), nullptr);
        testing::write_file(launcher, "the launcher");
        testing::write_file(cache, "the cache");
        testing::write_file(launcher_lock, "");
        testing::write_file(join_path(product, L"settings.json"), "the user's settings");
        testing::write_file(join_path(launcher_folder, L"games.db"), "the user's games");
        testing::write_file(join_path(desktop, L"notes.txt"), "the user's notes");
        elsewhere = scratch->file(L"Downloads\\Other.exe");
        testing::write_file(elsewhere, "another program");

        // The product's own shortcuts, current and older names, and the user's own.
        const std::wstring own_desktop_old = join_path(desktop, L"Vantrel.lnk");
        const std::wstring own_programs_old = join_path(programs, L"Orvane Launcher.lnk");
        ASSERT_TRUE(write_shortcut(bootstrap, own_desktop_old, own_desktop_old, true));
        ASSERT_TRUE(write_shortcut(launcher, own_programs_old, own_programs_old, true));
        for (const std::wstring& users :
             {join_path(desktop, L"Orvane Launcher.lnk"), join_path(programs, L"Vantrel.lnk")}) {
            ASSERT_TRUE(write_shortcut(elsewhere, users, users, true));
        }
        // In the order the worker removes them.
        removals = {
            join_path(desktop, layout::shortcut_name),
            own_desktop_old,
            join_path(programs, layout::shortcut_name),
            own_programs_old,
            launcher,
            cache,
            L"<Apps entry>",
            bootstrap,
        };
        for (const std::wstring& path : removals) {
            if (path != L"<Apps entry>") {
                ASSERT_TRUE(testing::exists(path)) << path_text(path);
            }
        }
        ASSERT_TRUE(apps_entry_exists());
    }

    Snapshot snapshot() const {
        Snapshot files;
        for (const std::wstring& folder : {product, desktop, programs})
            add_to_snapshot(folder, files);
        return files;
    }

    // The orvane-uninstall- folders in the temporary folder.
    std::vector<std::wstring> worker_folders() const {
        std::vector<std::wstring> found;
        for (const std::wstring& name : testing::folder_entries(temp)) {
            if (name.starts_with(layout::uninstall_folder_prefix))
                found.push_back(join_path(temp, name));
        }
        return found;
    }

    UninstallSystem test_system(const std::wstring& program) {
        UninstallSystem system = real_uninstall_system();
        system.running_executable = [this, program]() -> IoResult<std::wstring> {
            ++executable_lookups;
            return program;
        };
        system.temporary_folder = [this]() -> IoResult<std::wstring> { return temp_as_given; };
        system.desktop_folder = [this]() -> Result<std::wstring> { return desktop; };
        system.programs_folder = [this]() -> Result<std::wstring> { return programs; };
        system.now = [this] { return clock; };
        system.pause = [this](std::chrono::milliseconds pause) {
            clock += pause;
            ++pauses;
            if (release_after_pauses && pauses == *release_after_pauses)
                held.reset();
        };
        system.remove_file = [this](const std::wstring& path) -> Status {
            removed.push_back(path);
            if (path == failing_removal)
                return testing::injected(Stage::Installation);
            return remove_if_present(path);
        };
        system.remove_entry = [this](const std::wstring& folder) -> Status {
            removed.push_back(L"<Apps entry>");
            if (failing_removal == L"<Apps entry>")
                return testing::injected(Stage::Installation);
            return remove_apps_entry(folder);
        };
        system.before_step = [this](int step) {
            steps.push_back(step);
            if (at_step)
                at_step(step);
        };
        return system;
    }

    // Holds the file open for reading with sharing for reading only, as a running
    // program or another reader would.
    void hold(const std::wstring& path) {
        held.emplace(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held->valid()) << last_os_error().text();
    }

    const std::string fixture = *testing::read_file(testing::test_program_path("fixture_launcher"));
    const std::string setup_bytes = fixture + "installed setup";
    std::wstring product;
    bool owns_product = false;
    std::unique_ptr<testing::ScratchFolder> scratch;
    std::wstring desktop, programs, temp, download, elsewhere;
    std::wstring bootstrap, launcher_folder, launcher, cache, bootstrap_lock, launcher_lock;
    std::vector<std::wstring> removals;

    // What a run did and met.
    std::wstring temp_as_given;
    int executable_lookups = 0;
    std::vector<int> steps;
    std::function<void(int)> at_step;
    UninstallSystem::Clock::time_point clock{};
    int pauses = 0;
    std::optional<int> release_after_pauses;
    std::optional<UniqueHandle> held;
    std::optional<SetupLock> held_lock;
    std::wstring failing_removal;
    std::vector<std::wstring> removed;
    Snapshot changed;            // files a row changes during the run, as they are afterwards
    bool entry_deleted = false;  // the row deletes the Apps entry during the run

    void reset_run() {
        temp_as_given = temp;
        executable_lookups = 0;
        steps.clear();
        at_step = nullptr;
        pauses = 0;
        release_after_pauses.reset();
        held.reset();
        held_lock.reset();
        failing_removal.clear();
        removed.clear();
        changed.clear();
        entry_deleted = false;
    }
};

// --- the request ------------------------------------------------------------------------------

enum class From { Bootstrap, Download };

struct RequestRow {
    const char* name;
    int answer;
    From from;
    void (*prepare)(Uninstall&);  // changes before the run
    bool real_start;              // else the start is only recorded
    int exit_code;
    std::string detail;  // empty: no failure
};

// Changes to the installation before a run.
void delete_bootstrap(Uninstall& t) {
    DeleteFileW(t.bootstrap.c_str());
}
void delete_entry(Uninstall&) {
    delete_apps_entry();
}
void entry_of_another_folder(Uninstall& t) {
    set_entry_value(L"InstallLocation", t.product + L"2");
}
void entry_with_another_command(Uninstall& t) {
    set_entry_value(L"UninstallString", L"\"" + t.bootstrap + L"\" --uninstall-worker");
}
void entry_of_another_publisher(Uninstall&) {
    set_entry_value(L"Publisher", L"Someone Else");
}
void entry_without_publisher(Uninstall&) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, entry_path.c_str(), L"Publisher");
}
void no_temporary_folder(Uninstall& t) {
    t.temp_as_given = t.scratch->file(L"Missing\\");
}
// A folder where the worker file is to go.
void folder_in_the_copys_way(Uninstall& t) {
    t.at_step = [&t](int step) {
        if (step != 10)
            return;
        for (const std::wstring& folder : t.worker_folders())
            CreateDirectoryW(join_path(folder, layout::uninstall_copy_name).c_str(), nullptr);
    };
}
void bootstrap_not_a_program(Uninstall& t) {
    testing::write_file(t.bootstrap, "not a program");
}

const std::string no_file = system_text(ERROR_FILE_NOT_FOUND);
const std::string missing(registration_missing_message);
const std::string mismatch(registration_mismatch_message);
const std::string not_installed_copy(not_installed_copy_message);
constexpr bool real = true;   // the worker is really started
constexpr bool fake = false;  // the start is only recorded

// clang-format off
const RequestRow request_rows[] = {
    //name                            answer    from             prepare                     start exit detail
    {"no",                            IDNO,     From::Bootstrap, nullptr,                    fake, 0,   ""},
    {"no box could be shown",         0,        From::Bootstrap, nullptr,                    fake, 0,   ""},
    {"closed the box",                IDCANCEL, From::Bootstrap, nullptr,                    fake, 0,   ""},
    {"yes",                           IDYES,    From::Bootstrap, nullptr,                    fake, 0,   ""},
    {"yes, the worker really starts", IDYES,    From::Bootstrap, nullptr,                    real, 0,   ""},
    {"the downloaded setup",          IDYES,    From::Download,  nullptr,                    fake, 1,   not_installed_copy},
    {"no installed bootstrap",        IDYES,    From::Download,  delete_bootstrap,           fake, 1,   no_file},
    {"no Apps entry",                 IDYES,    From::Bootstrap, delete_entry,               fake, 1,   missing},
    {"an entry of another folder",    IDYES,    From::Bootstrap, entry_of_another_folder,    fake, 1,   mismatch},
    {"an entry with another command", IDYES,    From::Bootstrap, entry_with_another_command, fake, 1,   mismatch},
    {"an entry of another publisher", IDYES,    From::Bootstrap, entry_of_another_publisher, fake, 1,   mismatch},
    {"an entry without a publisher",  IDYES,    From::Bootstrap, entry_without_publisher,    fake, 1,   no_file},
    {"no temporary folder",           IDYES,    From::Bootstrap, no_temporary_folder,        fake, 1,   system_text(ERROR_PATH_NOT_FOUND)},
    {"the copy fails",                IDYES,    From::Bootstrap, folder_in_the_copys_way,    fake, 1,   "{any}"},
    {"the start fails",               IDYES,    From::Bootstrap, bootstrap_not_a_program,    real, 1,   "{any}"},
};
// clang-format on

TEST_F(Uninstall, RequestConfirmsChecksCopiesAndStartsTheWorker) {
    for (const RequestRow& row : request_rows) {
        SCOPED_TRACE(row.name);
        install();
        if (HasFatalFailure())
            return;
        reset_run();
        if (row.prepare)
            row.prepare(*this);
        const Snapshot before = snapshot();
        const bool entry_before = apps_entry_exists();
        const std::wstring program = row.from == From::Bootstrap ? bootstrap : download;
        UninstallSystem system = test_system(program);
        std::vector<std::wstring> started;
        const std::function<IoStatus(const std::wstring&)> real_start = system.start_worker;
        system.start_worker = [&](const std::wstring& worker) -> IoStatus {
            started.push_back(worker);
            return row.real_start ? real_start(worker) : IoStatus();
        };
        AnsweredBoxes boxes({row.answer});

        const UninstallOutcome outcome = request_uninstall(boxes, system);

        EXPECT_EQ(outcome.exit_code, row.exit_code);
        if (row.detail.empty()) {
            EXPECT_FALSE(outcome.failure) << outcome.failure->display();
        } else {
            EXPECT_TRUE(outcome.failure.has_value());
            if (outcome.failure) {
                EXPECT_EQ(outcome.failure->stage(), Stage::Installation);
                if (row.detail != "{any}") {
                    EXPECT_EQ(outcome.failure->detail(), row.detail);
                }
            }
        }
        // The product folder, the shortcuts and the registry are never changed.
        EXPECT_EQ(snapshot(), before);
        EXPECT_EQ(apps_entry_exists(), entry_before);

        const std::vector<std::wstring> folders = worker_folders();
        if (row.answer != IDYES) {
            // Nothing is examined before the answer.
            EXPECT_EQ(boxes.shown, std::vector{confirmation});
            EXPECT_EQ(steps, std::vector{1});
            EXPECT_EQ(executable_lookups, 0);
            EXPECT_TRUE(folders.empty());
        } else if (row.exit_code != 0) {
            EXPECT_EQ(boxes.shown, (std::vector{confirmation, start_failure}));
            EXPECT_TRUE(folders.empty()) << "a worker folder was left behind";
        } else {
            EXPECT_EQ(boxes.shown, std::vector{confirmation});
            ASSERT_EQ(folders.size(), 1u);
            const std::wstring name = *file_name(folders[0]);
            EXPECT_EQ(name.size(), layout::uninstall_folder_prefix.size() + 6);
            EXPECT_TRUE(std::all_of(name.begin() + layout::uninstall_folder_prefix.size(),
                                    name.end(), [](wchar_t c) { return c < 128 && isalnum(c); }));
            EXPECT_EQ(testing::folder_entries(folders[0]),
                      std::vector<std::wstring>{std::wstring(layout::uninstall_copy_name)});
            const std::wstring worker = join_path(folders[0], layout::uninstall_copy_name);
            EXPECT_EQ(testing::read_file(worker), setup_bytes);
            EXPECT_EQ(started, std::vector{worker});
        }
        if (row.real_start)
            Sleep(300);  // the started fixture ends at once on an argument it does not know
    }
}

// --- the worker -------------------------------------------------------------------------------

enum class Worker {
    Copy,             // OrvaneUninstall.exe in an orvane-uninstall- folder of the temp folder
    Bootstrap,        // the installed bootstrap itself
    OtherFolderName,  // OrvaneUninstall.exe in "uninstall-x"
    FolderCase,       // ... in "Orvane-Uninstall-x"
    OtherFileName,    // "Uninstall.exe"
    FileNameCase,     // "orvaneuninstall.exe"
    OutsideTemp,      // the folder is not in the temporary folder
    NoParent,         // a bare file name
    HardLink,         // the worker file is the bootstrap under another name
    OneByteOff,       // a copy that differs in its last byte
};

enum class Hold { Nothing, Bootstrap, Launcher, Cache, BootstrapLock, LauncherLock };

struct WorkerRow {
    const char* name;
    Worker worker;
    void (*prepare)(Uninstall&);
    Hold hold;
    std::optional<int> release_after_pauses;
    std::wstring failing_removal;  // "{n}": the n-th of the removals in order
    std::string detail;            // empty: success
    std::size_t removed;           // how many of the removals in order are gone afterwards
    int pauses;
};

std::string lock_failure(DWORD code) {
    return std::string(lock_failure_message) + system_text(code);
}

void temp_without_separator(Uninstall& t) {
    t.temp_as_given.pop_back();
}
void no_launcher_folder(Uninstall& t) {
    static_cast<void>(remove_folder_tree(t.launcher_folder));
}
void no_launcher_files(Uninstall& t) {
    DeleteFileW(t.launcher.c_str());
    DeleteFileW(t.cache.c_str());
}
void entry_of_the_launcher_folder(Uninstall& t) {
    set_entry_value(L"InstallLocation", t.launcher_folder);
}
// Another setup replaces the bootstrap between the checks and the lock.
void bootstrap_replaced_before_the_lock(Uninstall& t) {
    t.at_step = [&t](int step) {
        if (step != 8)
            return;
        testing::write_file(t.bootstrap, t.setup_bytes + "newer");
        t.changed[t.bootstrap] = summary(t.setup_bytes + "newer");
    };
}
// A stray file where the launcher folder would be.
void a_file_named_bin(Uninstall& t) {
    static_cast<void>(remove_folder_tree(t.launcher_folder));
    testing::write_file(t.launcher_folder, "not a folder");
}
// Another program changes the Apps entry after the worker's first check of it.
void entry_deleted_after_the_check(Uninstall& t) {
    t.at_step = [&t](int step) {
        if (step == 18) {
            delete_apps_entry();
            t.entry_deleted = true;
        }
    };
}
void entry_changed_after_the_check(Uninstall& t) {
    t.at_step = [&t](int step) {
        if (step == 18)
            entry_of_another_publisher(t);
    };
}
void entry_with_a_subkey(Uninstall&) {
    HKEY child = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (entry_path + L"\\Child").c_str(), 0, nullptr, 0, KEY_WRITE,
                    nullptr, &child, nullptr);
    RegCloseKey(child);
}

const std::string wrong_location(invalid_worker_location_message);
const std::string not_the_copy(invalid_worker_message);
const std::string injected(testing::injected_failure);
const std::string sharing = system_text(ERROR_SHARING_VIOLATION);
constexpr std::size_t everything = 8;
constexpr auto the_copy = Worker::Copy;
const std::optional<int> never;

// clang-format off
const WorkerRow worker_rows[] = {
    //name                                         worker                   prepare                             hold                 release fails   detail                                      removed     pauses
    {"success",                                    the_copy,                nullptr,                            Hold::Nothing,       never,  L"",    "",                                         everything, 0},
    {"the temporary folder without its separator", the_copy,                temp_without_separator,             Hold::Nothing,       never,  L"",    "",                                         everything, 0},
    {"no launcher was ever installed",             the_copy,                no_launcher_folder,                 Hold::Nothing,       never,  L"",    "",                                         everything, 0},
    {"no launcher files, the folder there",        the_copy,                no_launcher_files,                  Hold::Nothing,       never,  L"",    "",                                         everything, 0},
    {"a file where the launcher folder would be",  the_copy,                a_file_named_bin,                   Hold::Nothing,       never,  L"",    "",                                         everything, 0},
    {"from the product folder",                    Worker::Bootstrap,       nullptr,                            Hold::Nothing,       never,  L"",    wrong_location,                             0,          0},
    {"from another folder name",                   Worker::OtherFolderName, nullptr,                            Hold::Nothing,       never,  L"",    wrong_location,                             0,          0},
    {"folder name in other letter case",           Worker::FolderCase,      nullptr,                            Hold::Nothing,       never,  L"",    wrong_location,                             0,          0},
    {"under another file name",                    Worker::OtherFileName,   nullptr,                            Hold::Nothing,       never,  L"",    wrong_location,                             0,          0},
    {"file name in other letter case",             Worker::FileNameCase,    nullptr,                            Hold::Nothing,       never,  L"",    wrong_location,                             0,          0},
    {"outside the temporary folder",               Worker::OutsideTemp,     nullptr,                            Hold::Nothing,       never,  L"",    wrong_location,                             0,          0},
    {"no parent folder",                           Worker::NoParent,        nullptr,                            Hold::Nothing,       never,  L"",    std::string(invalid_worker_folder_message), 0,          0},
    {"the bootstrap under another name",           Worker::HardLink,        nullptr,                            Hold::Nothing,       never,  L"",    not_the_copy,                               0,          0},
    {"one byte different",                         Worker::OneByteOff,      nullptr,                            Hold::Nothing,       never,  L"",    not_the_copy,                               0,          0},
    {"no installed bootstrap",                     the_copy,                delete_bootstrap,                   Hold::Nothing,       never,  L"",    no_file,                                    0,          0},
    {"no Apps entry",                              the_copy,                delete_entry,                       Hold::Nothing,       never,  L"",    missing,                                    0,          0},
    {"an entry of another publisher",              the_copy,                entry_of_another_publisher,         Hold::Nothing,       never,  L"",    mismatch,                                   0,          0},
    {"an entry of another folder",                 the_copy,                entry_of_the_launcher_folder,       Hold::Nothing,       never,  L"",    mismatch,                                   0,          0},
    {"another setup holds the bootstrap lock",     the_copy,                nullptr,                            Hold::BootstrapLock, never,  L"",    lock_failure(ERROR_SHARING_VIOLATION),      0,          0},
    {"the bootstrap replaced before the lock",     the_copy,                bootstrap_replaced_before_the_lock, Hold::Nothing,       never,  L"",    std::string(bootstrap_changed_message),     0,          0},
    {"another setup holds the launcher lock",      the_copy,                nullptr,                            Hold::LauncherLock,  never,  L"",    lock_failure(ERROR_SHARING_VIOLATION),      0,          0},
    {"the entry deleted after the first check",    the_copy,                entry_deleted_after_the_check,      Hold::Nothing,       never,  L"",    missing,                                    0,          0},
    {"the entry changed after the first check",    the_copy,                entry_changed_after_the_check,      Hold::Nothing,       never,  L"",    mismatch,                                   0,          0},
    {"an entry with a subkey",                     the_copy,                entry_with_a_subkey,                Hold::Nothing,       never,  L"",    std::string(registration_children_message), 0,          0},
    {"the request still runs, then ends",          the_copy,                nullptr,                            Hold::Bootstrap,     5,      L"",    "",                                         everything, 5},
    {"the bootstrap stays in use",                 the_copy,                nullptr,                            Hold::Bootstrap,     never,  L"",    std::string(bootstrap_in_use_message),      0,          200},
    {"a running launcher",                         the_copy,                nullptr,                            Hold::Launcher,      never,  L"",    sharing,                                    0,          0},
    {"the cache cannot be deleted",                the_copy,                nullptr,                            Hold::Cache,         never,  L"",    sharing,                                    5,          0},
    {"the first shortcut removal fails",           the_copy,                nullptr,                            Hold::Nothing,       never,  L"{0}", injected,                                   0,          0},
    {"the Start-menu shortcut removal fails",      the_copy,                nullptr,                            Hold::Nothing,       never,  L"{2}", injected,                                   2,          0},
    {"the launcher removal fails",                 the_copy,                nullptr,                            Hold::Nothing,       never,  L"{4}", injected,                                   4,          0},
    {"the Apps entry removal fails",               the_copy,                nullptr,                            Hold::Nothing,       never,  L"{6}", injected,                                   6,          0},
    {"the bootstrap removal fails",                the_copy,                nullptr,                            Hold::Nothing,       never,  L"{7}", injected,                                   7,          0},
};
// clang-format on

TEST_F(Uninstall, WorkerRemovesExactlyTheProductsOwnFilesInOrder) {
    for (const WorkerRow& row : worker_rows) {
        SCOPED_TRACE(row.name);
        install();
        if (HasFatalFailure())
            return;
        reset_run();

        const std::wstring worker_folder = temp + L"orvane-uninstall-Ab3dE9";
        std::wstring program = join_path(worker_folder, layout::uninstall_copy_name);
        switch (row.worker) {
            case Worker::Copy:
                break;
            case Worker::Bootstrap:
                program = bootstrap;
                break;
            case Worker::OtherFolderName:
                program = temp + L"uninstall-Ab3dE9\\OrvaneUninstall.exe";
                break;
            case Worker::FolderCase:
                program = temp + L"Orvane-Uninstall-Ab3dE9\\OrvaneUninstall.exe";
                break;
            case Worker::OtherFileName:
                program = join_path(worker_folder, L"Uninstall.exe");
                break;
            case Worker::FileNameCase:
                program = join_path(worker_folder, L"orvaneuninstall.exe");
                break;
            case Worker::OutsideTemp:
                program = scratch->file(L"orvane-uninstall-Ab3dE9\\OrvaneUninstall.exe");
                break;
            case Worker::NoParent:
                program = L"OrvaneUninstall.exe";
                break;
            case Worker::HardLink:
            case Worker::OneByteOff:
                break;
        }
        if (row.worker != Worker::Bootstrap && row.worker != Worker::NoParent) {
            ASSERT_TRUE(create_folder_tree(*parent_path(program)));
            if (row.worker == Worker::HardLink) {
                ASSERT_TRUE(CreateHardLinkW(program.c_str(), bootstrap.c_str(), nullptr))
                    << last_os_error().text();
            } else {
                std::string bytes = setup_bytes;
                if (row.worker == Worker::OneByteOff)
                    bytes.back() ^= 1;
                testing::write_file(program, bytes);
            }
        }
        if (row.prepare)
            row.prepare(*this);
        switch (row.hold) {
            case Hold::Nothing:
                break;
            case Hold::Bootstrap:
                hold(bootstrap);
                break;
            case Hold::Launcher:
                hold(launcher);
                break;
            case Hold::Cache:
                hold(cache);
                break;
            case Hold::BootstrapLock:
                held_lock.emplace(
                    acquire_lock(product, layout::bootstrap_lock_name, Stage::Installation)
                        .value());
                break;
            case Hold::LauncherLock:
                held_lock.emplace(
                    acquire_lock(launcher_folder, layout::launcher_lock_name, Stage::Installation)
                        .value());
                break;
        }
        if (HasFatalFailure())
            return;
        release_after_pauses = row.release_after_pauses;
        if (row.failing_removal.starts_with(L"{"))
            failing_removal = removals[std::stoul(row.failing_removal.substr(1))];
        const Snapshot before = snapshot();
        const DWORD launcher_folder_attributes = GetFileAttributesW(launcher_folder.c_str());
        const bool had_launcher_folder = launcher_folder_attributes != INVALID_FILE_ATTRIBUTES &&
                                         (launcher_folder_attributes & FILE_ATTRIBUTE_DIRECTORY);
        const bool entry_before = apps_entry_exists();
        AnsweredBoxes boxes;

        const UninstallOutcome outcome = perform_uninstall(boxes, test_system(program));

        if (row.detail.empty()) {
            EXPECT_EQ(outcome.exit_code, 0);
            EXPECT_FALSE(outcome.failure) << outcome.failure->display();
            EXPECT_EQ(boxes.shown, std::vector{success});
        } else {
            EXPECT_EQ(outcome.exit_code, 1);
            EXPECT_EQ(boxes.shown, std::vector{finish_failure});
            EXPECT_TRUE(outcome.failure.has_value());
            if (outcome.failure) {
                EXPECT_EQ(outcome.failure->detail(), row.detail);
            }
        }
        EXPECT_EQ(pauses, row.pauses);

        // Exactly the first ones of the removals are gone, in their order; all else stays.
        Snapshot expected = before;
        for (const auto& [path, content] : changed)
            expected[path] = content;
        for (std::size_t i = 0; i < row.removed; ++i)
            expected.erase(removals[i]);
        EXPECT_EQ(snapshot(), expected);
        EXPECT_EQ(apps_entry_exists(), entry_before && !entry_deleted && row.removed <= 6);
        if (!row.failing_removal.empty() || row.hold == Hold::Cache || row.removed == 8) {
            const std::size_t attempted = row.removed + (row.removed == 8 ? 0 : 1);
            EXPECT_EQ(removed,
                      std::vector(removals.begin(), removals.begin() + std::ptrdiff_t(attempted)));
        } else {
            EXPECT_TRUE(removed.empty());
        }
        // Checked and kept: the worker file, the lock files, the folders.
        if (row.worker == Worker::Copy) {
            EXPECT_TRUE(testing::exists(program));
            EXPECT_TRUE(testing::exists(bootstrap_lock));
            EXPECT_EQ(testing::exists(launcher_lock), had_launcher_folder);
            EXPECT_EQ(testing::exists(launcher_folder),
                      launcher_folder_attributes != INVALID_FILE_ATTRIBUTES);
        }

        // Every lock and handle has been let go of.
        held.reset();
        held_lock.reset();
        EXPECT_TRUE(acquire_lock(product, layout::bootstrap_lock_name, Stage::Installation));
        if (had_launcher_folder) {
            EXPECT_TRUE(
                acquire_lock(launcher_folder, layout::launcher_lock_name, Stage::Installation));
        }
        for (const std::wstring& file : {launcher, bootstrap}) {
            if (testing::exists(file)) {
                EXPECT_TRUE(open_exclusive(file).value().has_value()) << path_text(file);
            }
        }
    }
}

TEST_F(Uninstall, WorkerStepsRunInTheirOrder) {
    install();
    if (HasFatalFailure())
        return;
    reset_run();
    const std::wstring program = temp + L"orvane-uninstall-x\\OrvaneUninstall.exe";
    ASSERT_TRUE(create_folder_tree(*parent_path(program)));
    testing::write_file(program, setup_bytes);
    AnsweredBoxes boxes;
    ASSERT_EQ(perform_uninstall(boxes, test_system(program)).exit_code, 0);
    std::vector<int> all(23);
    for (int i = 0; i < 23; ++i)
        all[std::size_t(i)] = i + 1;
    EXPECT_EQ(steps, all);
}

// --- the worker's two file operations ---------------------------------------------------------

TEST(UninstallFiles, OpenExclusiveKeepsOthersOutButLetsThisProcessDelete) {
    testing::ScratchFolder scratch;
    const std::wstring file = scratch.file(L"file.exe");
    testing::write_file(file, "content");

    EXPECT_FALSE(open_exclusive(scratch.file(L"missing.exe")).value().has_value());
    EXPECT_FALSE(open_exclusive(scratch.file(L"missing\\file.exe")).value().has_value());
    {
        Result<std::optional<UniqueHandle>> opened = open_exclusive(file);
        ASSERT_TRUE(opened && opened->has_value());
        // Nobody else may read it, write it or open it exclusively.
        const UniqueHandle reader(CreateFileW(
            file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(reader.valid());
        const Result<std::optional<UniqueHandle>> second = open_exclusive(file);
        ASSERT_FALSE(second);
        EXPECT_EQ(second.error().stage(), Stage::Installation);
        EXPECT_EQ(second.error().detail(), system_text(ERROR_SHARING_VIOLATION));
        // But this process may delete it while the handle is open.
        EXPECT_TRUE(remove_if_present(file));
    }
    EXPECT_FALSE(testing::exists(file));
}

TEST(UninstallFiles, OpenExclusiveFailsOnAFileOpenElsewhere) {
    testing::ScratchFolder scratch;
    const std::wstring file = scratch.file(L"file.exe");
    testing::write_file(file, "content");
    const UniqueHandle reader(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.valid());
    const Result<std::optional<UniqueHandle>> opened = open_exclusive(file);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().detail(), system_text(ERROR_SHARING_VIOLATION));
}

TEST(UninstallFiles, RemoveIfPresentCountsAMissingFileAsRemoved) {
    testing::ScratchFolder scratch;
    const std::wstring file = scratch.file(L"file.lnk");
    testing::write_file(file, "content");
    EXPECT_TRUE(remove_if_present(file));
    EXPECT_FALSE(testing::exists(file));
    EXPECT_TRUE(remove_if_present(file));
    EXPECT_TRUE(remove_if_present(scratch.file(L"missing\\file.lnk")));

    // A file that another handle holds without delete sharing stays, with the system's error.
    testing::write_file(file, "content");
    const UniqueHandle reader(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    const Status removed = remove_if_present(file);
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error().stage(), Stage::Installation);
    EXPECT_EQ(removed.error().detail(), system_text(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(testing::exists(file));
}

TEST(UninstallFiles, RunningExecutableIsThisProgram) {
    const IoResult<std::wstring> path = current_module_path();
    ASSERT_TRUE(path);
    EXPECT_TRUE(path->ends_with(L"windows_installer_tests.exe")) << path_text(*path);
}

}  // namespace
}  // namespace vantrel
