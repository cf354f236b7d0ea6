#include "process/launcher_process.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "programs/fixture_launcher_modes.hpp"
#include "support/windows_test_support.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

namespace mode = testing::fixture_launcher;
using namespace std::chrono_literals;

// The fixture launcher copied under its real name into a folder with a space, so
// that every start also shows the path is passed as one word.
const std::wstring& launcher_path() {
    static const testing::ScratchFolder scratch;
    static const std::wstring path = [] {
        const std::wstring folder = scratch.file(L"launcher folder");
        const std::wstring target = folder + L"\\vantrel-launcher.exe";
        if (!CreateDirectoryW(folder.c_str(), nullptr) ||
            !CopyFileW(testing::test_program_path("fixture_launcher").c_str(), target.c_str(),
                       TRUE)) {
            ADD_FAILURE() << "cannot copy the fixture launcher: " << last_os_error().text();
        }
        return target;
    }();
    return path;
}

// Sets an environment variable of this process (children inherit it) for one scope.
class ScopedVariable {
  public:
    ScopedVariable(std::wstring name, std::wstring_view value) : name_(std::move(name)) {
        std::array<wchar_t, 32768> buffer{};
        const DWORD length =
            GetEnvironmentVariableW(name_.c_str(), buffer.data(), DWORD(buffer.size()));
        if (length > 0)
            previous_ = std::wstring(buffer.data(), length);
        SetEnvironmentVariableW(name_.c_str(), std::wstring(value).c_str());
    }
    ~ScopedVariable() {
        SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

class FixtureMode : public ScopedVariable {
  public:
    explicit FixtureMode(std::wstring_view name)
        : ScopedVariable(std::wstring(mode::mode_variable), name) {}
};

enum class Step {
    CreateCapture,
    Reopen,
    NullDevice,
    Start,
    Poll,
    JobPoll,
    FileSize,
    OpenForReading
};
constexpr std::size_t step_count = 8;

// The real system, watched: it remembers the capture files and children it made,
// can fail the nth call of one step, and can run a scripted clock. Children still
// running at the end are ended.
class WatchedSystem final : public ProcessSystem {
  public:
    ~WatchedSystem() override {
        for (const UniqueHandle& child : children_) {
            TerminateProcess(child.get(), 1);
            WaitForSingleObject(child.get(), 10000);
        }
    }

    void fail(Step step, int call, IoError failure) {
        failing_step_ = step;
        failing_call_ = call;
        failure_ = std::move(failure);
    }
    void poll_only_after_end() { poll_after_end_ = true; }
    // The outputs are then opened without read access, so that reading them fails.
    void read_through_write_only_handles() { write_only_reads_ = true; }
    // now() gives these offsets from one fixed point in turn, then keeps the last.
    void script_clock(std::vector<Clock::duration> offsets) { clock_script_ = std::move(offsets); }

    // Wine closes an ended child's handles a moment after the child counts as ended,
    // so a capture file it had open may linger briefly after its deletion.
    bool captures_removed() const {
        // Wine closes an ended child's handles a little later; on a loaded machine, much later.
        const auto deadline = Clock::now() + 30s;
        for (const std::wstring& path : capture_paths) {
            while (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
                if (Clock::now() > deadline)
                    return false;
                Sleep(10);
            }
        }
        return true;
    }
    bool children_ended() const {
        for (const UniqueHandle& child : children_) {
            if (WaitForSingleObject(child.get(), 0) != WAIT_OBJECT_0)
                return false;
        }
        return true;
    }
    std::size_t children_started() const { return children_.size(); }

    std::vector<std::wstring> capture_paths;
    int polls = 0;
    int sleeps = 0;
    int terminations = 0;

    IoResult<TempFile> create_capture_file() override {
        if (failing(Step::CreateCapture))
            return *failure_;
        auto file = real_.create_capture_file();
        if (file)
            capture_paths.push_back(file->path());
        return file;
    }
    IoResult<UniqueHandle> reopen(HANDLE file) override {
        if (failing(Step::Reopen))
            return *failure_;
        return real_.reopen(file);
    }
    IoResult<UniqueHandle> open_null_device() override {
        if (failing(Step::NullDevice))
            return *failure_;
        return real_.open_null_device();
    }
    IoResult<ChildProcess> start(const ChildCommand& command) override {
        if (failing(Step::Start))
            return *failure_;
        auto child = real_.start(command);
        if (child) {
            HANDLE copy = nullptr;
            DuplicateHandle(GetCurrentProcess(), child->handle(), GetCurrentProcess(), &copy, 0,
                            FALSE, DUPLICATE_SAME_ACCESS);
            children_.emplace_back(copy);
        }
        return child;
    }
    IoResult<std::optional<std::uint32_t>> exit_code_if_ended(const ChildProcess& child) override {
        ++polls;
        if (failing(Step::Poll))
            return *failure_;
        if (poll_after_end_)
            WaitForSingleObject(child.handle(), 15000);
        return real_.exit_code_if_ended(child);
    }
    IoResult<bool> job_still_running(const ChildProcess& child) override {
        if (failing(Step::JobPoll))
            return *failure_;
        return real_.job_still_running(child);
    }
    void terminate_and_wait(const ChildProcess& child) override {
        ++terminations;
        real_.terminate_and_wait(child);
    }
    IoResult<std::uint64_t> file_size(const std::wstring& path) override {
        if (failing(Step::FileSize))
            return *failure_;
        return real_.file_size(path);
    }
    IoResult<UniqueHandle> open_for_reading(const std::wstring& path) override {
        if (failing(Step::OpenForReading))
            return *failure_;
        if (!write_only_reads_)
            return real_.open_for_reading(path);
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return last_os_error();
        return file;
    }
    Clock::time_point now() override {
        if (clock_script_.empty())
            return real_.now();
        const Clock::duration offset =
            clock_script_[std::min(clock_reads_, clock_script_.size() - 1)];
        ++clock_reads_;
        return Clock::time_point() + 1h + offset;
    }
    void sleep(std::chrono::milliseconds duration) override {
        ++sleeps;
        real_.sleep(duration);
    }

  private:
    bool failing(Step step) {
        const int call = ++calls_[std::size_t(step)];
        return failure_ && step == failing_step_ && call == failing_call_;
    }

    ProcessSystem& real_ = windows_process_system();
    std::vector<UniqueHandle> children_;
    std::array<int, step_count> calls_{};
    Step failing_step_ = Step::Start;
    int failing_call_ = 0;
    std::optional<IoError> failure_;
    bool poll_after_end_ = false;
    bool write_only_reads_ = false;
    std::vector<Clock::duration> clock_script_;
    std::size_t clock_reads_ = 0;
};

const std::string fixture_version(mode::version);

void expect_failure(const Status& status, Stage stage, const std::string& detail) {
    ASSERT_FALSE(status.ok()) << "expected: " << detail;
    EXPECT_EQ(status.error().stage(), stage);
    EXPECT_EQ(status.error().detail(), detail);
}

struct ProbeCase {
    std::wstring_view mode;
    std::string version;
    std::optional<std::string> failure;  // nothing: the probe succeeds
    // A launcher that writes much and ends at once may still be seen running by a
    // poll after its write; these cases make the polls come after its end.
    bool poll_after_end = false;
};

TEST(ProbeLauncherVersion, JudgesWhatTheLauncherAnswers) {
    const std::string mismatch = "Launcher version does not match the downloaded release.";
    const std::string too_large = "File exceeds setup's size limit";
    const std::string stopped = "Launcher version check timed out or returned too much output.";
    const ProbeCase cases[] = {
        {mode::answer, fixture_version, std::nullopt},
        // Its standard input is the null device, so reading it ends at once.
        {mode::read_input, fixture_version, std::nullopt},
        {mode::answer, "2.7.0", mismatch},
        {mode::leading_v, fixture_version, mismatch},
        {mode::bare_version, fixture_version, mismatch},
        {mode::exit_1, fixture_version, mismatch},
        {mode::crash, fixture_version, mismatch},
        {mode::big_stdout, fixture_version, too_large, true},
        {mode::big_stderr, fixture_version, too_large, true},
        {mode::flood_stdout, fixture_version, stopped},
        {mode::flood_stderr, fixture_version, stopped},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(std::string(c.mode.begin(), c.mode.end()));
        const FixtureMode fixture(c.mode);
        WatchedSystem system;
        if (c.poll_after_end)
            system.poll_only_after_end();
        const Status status = probe_launcher_version(launcher_path(), c.version, system);
        if (c.failure) {
            expect_failure(status, Stage::Installation, *c.failure);
        } else {
            EXPECT_TRUE(status.ok()) << status.error().display();
        }
        EXPECT_EQ(system.children_started(), 1u);
        EXPECT_TRUE(system.children_ended());
        EXPECT_EQ(system.capture_paths.size(), 2u);
        EXPECT_TRUE(system.captures_removed());
    }
}

TEST(ProbeLauncherVersion, DefaultSystemAcceptsTheRightAnswer) {
    const FixtureMode fixture(mode::answer);
    const Status status = probe_launcher_version(launcher_path(), fixture_version);
    EXPECT_TRUE(status.ok()) << status.error().display();
}

// What the probed launcher started (under Wine, its console host, which works in the
// launcher's folder) has ended too when the probe returns: the folder of an update's
// staged launcher can be removed at once. Each round failed most of the time before.
TEST(ProbeLauncherVersion, LeavesTheLaunchersFolderFreeWhenItReturns) {
    const FixtureMode fixture(mode::answer);
    const testing::ScratchFolder scratch;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const std::wstring folder = scratch.file(L"run " + std::to_wstring(round));
        const std::wstring launcher = folder + L"\\vantrel-launcher.exe";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(launcher_path().c_str(), launcher.c_str(), TRUE));

        const Status status = probe_launcher_version(launcher, fixture_version);

        EXPECT_TRUE(status.ok()) << status.error().display();
        EXPECT_TRUE(DeleteFileW(launcher.c_str())) << last_os_error().text();
        EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << last_os_error().text();
    }
}

TEST(ProbeLauncherVersion, StopsALauncherThatNeverEndsAfterFifteenSeconds) {
    const FixtureMode fixture(mode::hang);
    WatchedSystem system;
    const auto started = std::chrono::steady_clock::now();
    const Status status = probe_launcher_version(launcher_path(), fixture_version, system);
    const auto waited = std::chrono::steady_clock::now() - started;
    expect_failure(status, Stage::Installation,
                   "Launcher version check timed out or returned too much output.");
    EXPECT_GE(waited, 15s);
    EXPECT_EQ(system.terminations, 1);
    EXPECT_TRUE(system.children_ended());
    EXPECT_TRUE(system.captures_removed());
}

struct ClockCase {
    std::vector<std::chrono::steady_clock::duration> offsets;
    int sleeps;
};

TEST(ProbeLauncherVersion, FifteenSecondsExactlyIsStillInTime) {
    const ClockCase cases[] = {
        {{0s, 15s, 15s + 1ns}, 1},
        {{0s, 14999ms, 15s, 15s + 1ns}, 2},
        {{0s, 15s + 1ns}, 0},
    };
    const FixtureMode fixture(mode::hang);
    for (const ClockCase& c : cases) {
        WatchedSystem system;
        system.script_clock(c.offsets);
        const Status status = probe_launcher_version(launcher_path(), fixture_version, system);
        expect_failure(status, Stage::Installation,
                       "Launcher version check timed out or returned too much output.");
        EXPECT_EQ(system.sleeps, c.sleeps);
        EXPECT_EQ(system.terminations, 1);
        EXPECT_TRUE(system.children_ended());
    }
}

struct StepFailureCase {
    std::string what;
    Step step;
    int call;
    std::wstring_view mode;
    std::string detail_prefix;  // before the injected failure's text, or the whole detail
    bool detail_is_failure_text;
    int terminations;
};

TEST(ProbeLauncherVersion, ReportsEachFailingStep) {
    const IoError failure = os_error(ERROR_ACCESS_DENIED);
    const std::string stopped = "Launcher version check timed out or returned too much output.";
    const StepFailureCase cases[] = {
        {"first capture file", Step::CreateCapture, 1, mode::answer, "", true, 0},
        {"second capture file", Step::CreateCapture, 2, mode::answer, "", true, 0},
        {"first second handle", Step::Reopen, 1, mode::answer, "", true, 0},
        {"second second handle", Step::Reopen, 2, mode::answer, "", true, 0},
        {"null device", Step::NullDevice, 1, mode::answer,
         "The verified launcher could not start: ", true, 0},
        {"start", Step::Start, 1, mode::answer, "The verified launcher could not start: ", true, 0},
        {"testing the child", Step::Poll, 1, mode::hang, "", true, 1},
        {"testing the child later", Step::Poll, 25, mode::hang, "", true, 1},
        {"testing what it started", Step::JobPoll, 1, mode::answer, "", true, 1},
        {"size of the output", Step::FileSize, 1, mode::hang, stopped, false, 1},
        {"size of the errors", Step::FileSize, 2, mode::hang, stopped, false, 1},
        {"reading the output", Step::OpenForReading, 1, mode::answer, "", true, 0},
        {"reading the errors", Step::OpenForReading, 2, mode::answer, "", true, 0},
    };
    for (const StepFailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        const FixtureMode fixture(c.mode);
        WatchedSystem system;
        system.fail(c.step, c.call, failure);
        const Status status = probe_launcher_version(launcher_path(), fixture_version, system);
        expect_failure(status, Stage::Installation,
                       c.detail_prefix + (c.detail_is_failure_text ? failure.text() : ""));
        EXPECT_EQ(system.terminations, c.terminations);
        EXPECT_TRUE(system.children_ended());
        EXPECT_TRUE(system.captures_removed());
    }
}

TEST(ProbeLauncherVersion, ReportsAFailedReadOfTheOutput) {
    const FixtureMode fixture(mode::answer);
    WatchedSystem system;
    system.read_through_write_only_handles();
    const Status status = probe_launcher_version(launcher_path(), fixture_version, system);
    expect_failure(status, Stage::Installation, os_error(ERROR_ACCESS_DENIED).text());
    EXPECT_TRUE(system.captures_removed());
}

TEST(ProbeLauncherVersion, ReportsAProgramThatCannotStart) {
    const testing::ScratchFolder scratch;
    WatchedSystem system;
    const Status status =
        probe_launcher_version(scratch.file(L"vantrel-launcher.exe"), fixture_version, system);
    expect_failure(
        status, Stage::Installation,
        "The verified launcher could not start: " + system_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(system.captures_removed());
}

TEST(ProbeLauncherVersion, ReportsATemporaryFolderThatCannotHoldCaptureFiles) {
    const testing::ScratchFolder scratch;
    const std::wstring missing = scratch.file(L"missing");
    const ScopedVariable tmp(L"TMP", missing);
    const ScopedVariable temp(L"TEMP", missing);
    const Status status = probe_launcher_version(launcher_path(), fixture_version);
    expect_failure(status, Stage::Installation, system_error_text(ERROR_PATH_NOT_FOUND));
}

struct LaunchCase {
    std::wstring_view mode;
    std::optional<std::string> failure;
};

TEST(StartLauncher, RequiresTheLauncherToKeepRunningForOneSecond) {
    const LaunchCase cases[] = {
        {mode::answer, std::nullopt},
        {mode::half_second,
         "The launcher closed immediately (exit code: 0). Please contact Vantrel support."},
        {mode::exit_1,
         "The launcher closed immediately (exit code: 1). Please contact Vantrel support."},
        {mode::crash,
         "The launcher closed immediately (exit code: 0xc0000005). Please contact Vantrel "
         "support."},
    };
    for (const LaunchCase& c : cases) {
        SCOPED_TRACE(std::string(c.mode.begin(), c.mode.end()));
        const FixtureMode fixture(c.mode);
        WatchedSystem system;
        const Status status = start_launcher(launcher_path(), system);
        if (c.failure) {
            expect_failure(status, Stage::Launch, *c.failure);
        } else {
            EXPECT_TRUE(status.ok()) << status.error().display();
            // Left running on its own; the watcher ends it after the test.
            EXPECT_FALSE(system.children_ended());
        }
        EXPECT_EQ(system.children_started(), 1u);
        EXPECT_EQ(system.terminations, 0);
    }
}

TEST(StartLauncher, ASecondExactlyIsSurvival) {
    const ClockCase cases[] = {
        {{0s, 1s}, 0},
        {{0s, 999ms, 1s}, 1},
        {{0s, 500ms, 999ms, 1s}, 2},
    };
    const FixtureMode fixture(mode::answer);
    for (const ClockCase& c : cases) {
        WatchedSystem system;
        system.script_clock(c.offsets);
        const Status status = start_launcher(launcher_path(), system);
        EXPECT_TRUE(status.ok()) << status.error().display();
        EXPECT_EQ(system.sleeps, c.sleeps);
        EXPECT_EQ(system.polls, c.sleeps);
    }
}

TEST(StartLauncher, ReportsEachFailingStep) {
    const IoError failure = os_error(ERROR_ACCESS_DENIED);
    const FixtureMode fixture(mode::answer);
    const StepFailureCase cases[] = {
        {"null device", Step::NullDevice, 1, mode::answer, "Could not start the launcher: ", true,
         0},
        {"start", Step::Start, 1, mode::answer, "Could not start the launcher: ", true, 0},
        {"testing the child", Step::Poll, 1, mode::answer, "", true, 0},
        {"testing the child later", Step::Poll, 2, mode::answer, "", true, 0},
    };
    for (const StepFailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        WatchedSystem system;
        system.fail(c.step, c.call, failure);
        const Status status = start_launcher(launcher_path(), system);
        expect_failure(status, Stage::Launch, c.detail_prefix + failure.text());
    }
}

TEST(StartLauncher, ReportsAProgramThatCannotStart) {
    const testing::ScratchFolder scratch;
    const Status status = start_launcher(scratch.file(L"vantrel-launcher.exe"));
    expect_failure(status, Stage::Launch,
                   "Could not start the launcher: " + system_error_text(ERROR_FILE_NOT_FOUND));
}

TEST(StartLauncher, HandsTheLauncherNoHandleButItsStandardOnes) {
    // An inheritable pipe end of the setup, like an output pipe it was started with.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
    const UniqueHandle reader(read_end);
    UniqueHandle writer(write_end);

    const FixtureMode fixture(mode::answer);
    WatchedSystem system;
    const Status status = start_launcher(launcher_path(), system);
    ASSERT_TRUE(status.ok()) << status.error().display();
    ASSERT_FALSE(system.children_ended());

    // With the only write end closed, the pipe is broken unless the launcher holds one.
    writer.reset();
    DWORD available = 0;
    EXPECT_FALSE(PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BROKEN_PIPE));
}

}  // namespace
}  // namespace vantrel
