#include "lib/console_setup.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "recording_stream.hpp"

namespace vantrel {
namespace {

using testing::RecordingStream;

// Standard input and the two steps of one run.
class FakeRun final : public ConsoleInput, public ConsoleSetupSteps {
  public:
    bool is_terminal() override { return terminal; }
    void read_line() override {
        ++reads;
        EXPECT_EQ(error.flushed, error.bytes.size()) << "the wait began before the prompt showed";
    }
    Result<bool> install_or_repair_bootstrap() override { return bootstrap; }
    Status update_launcher(ConsoleReporter& reporter) override {
        updated = true;
        for (const ProgressEvent& event : events)
            reporter.report(event);
        return update;
    }

    RecordingStream output;
    RecordingStream error;
    Result<bool> bootstrap = false;
    std::vector<ProgressEvent> events;
    Status update;
    bool terminal = false;
    int reads = 0;
    bool updated = false;
};

using Kind = ProgressKind;

TEST(ConsoleSetupTest, RunWritesItsFrameAndExitCode) {
    const std::string boot_ok = "Bootstrap install/repair...   OK\n";
    const std::string boot_failed = "Bootstrap install/repair...   FAILED\n";
    const std::string checked = "Checking launcher...          OK\n";
    const std::string download = "\r\x1b[2KDownloading v0.2.0... 0 bytes [" + [] {
        std::string bar;
        for (int cell = 0; cell < 30; ++cell)
            bar += "\u2500";
        return bar;
    }() + "]";
    const std::string busy = "Close Vantrel and retry. Access is denied. (os error 5)";
    const std::string safe = "\n\nNothing unverified was installed. You can retry safely.\n";
    const std::string prompt = "\nPress Enter to close...";

    const std::vector<ProgressEvent> current = {Kind::CheckingForUpdate, Kind::UpdateCheckDone,
                                                Kind::StartingLauncher};
    const std::vector<ProgressEvent> downloading = {Kind::CheckingForUpdate, Kind::UpdateCheckDone,
                                                    DownloadStarted{"0.2.0"}};
    const std::vector<ProgressEvent> verifying = {Kind::CheckingForUpdate, Kind::UpdateCheckDone,
                                                  DownloadStarted{"0.2.0"}, Kind::DownloadFinished,
                                                  Kind::Verifying};
    const std::vector<ProgressEvent> checked_only = {Kind::CheckingForUpdate,
                                                     Kind::UpdateCheckDone};

    struct Case {
        std::string_view name;
        Result<bool> bootstrap;
        std::vector<ProgressEvent> events;
        Status update;
        bool terminal;
        std::string output;  // after the banner
        std::string error;
        int exit_code;
        bool updated;
    };
    // clang-format off
    const Case cases[] = {
        {"success", false, current, {}, true, boot_ok + checked + "Starting launcher...\n", "", 0, true},
        {"restart hands the run over", true, current, {}, true, boot_ok + "Starting installed bootstrap...\n", "", 0, false},
        {"bootstrap failure", Error::from_text(Stage::Bootstrap, busy), current, {}, false, boot_failed, "\nERROR: Bootstrap failed: " + busy + safe, 1, false},
        {"bootstrap failure at a terminal", Error::from_text(Stage::Bootstrap, busy), current, {}, true, boot_failed, "\nERROR: Bootstrap failed: " + busy + safe + prompt, 1, false},
        {"failure while downloading", false, downloading, Error::from_text(Stage::Network, "Reset."), false, boot_ok + checked + download + " FAILED\n", "\nERROR: Network failed: Reset." + safe, 1, true},
        {"failure at a step, at a terminal", false, verifying, Error::from_text(Stage::Verification, "Bad \u00e9."), true, boot_ok + checked + download + "\nVerifying...                  FAILED\n", "\nERROR: Verification failed: Bad \u00e9." + safe + prompt, 1, true},
        {"failure with no line open", false, checked_only, Error::from_text(Stage::Manifest, "Empty."), false, boot_ok + checked, "\nERROR: Manifest failed: Empty." + safe, 1, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        FakeRun run;
        run.bootstrap = c.bootstrap;
        run.events = c.events;
        run.update = c.update;
        run.terminal = c.terminal;

        EXPECT_EQ(run_console_setup(run.output, run.error, run, run), c.exit_code) << c.name;
        EXPECT_EQ(run.output.bytes, "Orvanis Launcher Setup\nBy Orvanis\n\n" + c.output) << c.name;
        EXPECT_EQ(run.error.bytes, c.error) << c.name;
        EXPECT_EQ(run.updated, c.updated) << c.name;
        EXPECT_EQ(run.reads, c.error.ends_with(prompt) ? 1 : 0) << c.name;
    }
}

TEST(ConsoleSetupTest, TerminalPipeNames) {
    struct Case {
        std::string_view name;
        bool terminal;
    };
    // clang-format off
    const Case cases[] = {
        {"\\msys-1888ae32e00d56aa-pty0-from-master", true},
        {"\\Device\\NamedPipe\\cygwin-e022582115c10879-pty4-to-master", true},
        {"msys-1888ae32e00d56aa-pty0-to-master", true},
        {"\\msys-1888ae32e00d56aa-pipe-0001", false},
        {"\\mintty-1-pty0-from-master", false},
        {"\\MSYS-1888ae32e00d56aa-pty0-from-master", false},
        {"\\x-msys-1888ae32e00d56aa-pty0", false},
        {"\\msys-1888ae32e00d56aa-pty0\\from-master", false},
        {"\\msys-1888ae32e00d56aa-pty0\\", false},
        {"", false},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(is_terminal_pipe_name(c.name), c.terminal) << c.name;
}

}  // namespace
}  // namespace vantrel
