#include "lib/console_reporter.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording_stream.hpp"

namespace vantrel {
namespace {

using testing::RecordingStream;

struct Console {
    RecordingStream output;
    RecordingStream error;
    ConsoleReporter reporter{output, error};

    void report_all(const std::vector<ProgressEvent>& events) {
        for (const ProgressEvent& event : events) {
            reporter.report(event);
            // The real standard output is line-buffered; lines without a line feed
            // only show when flushed.
            EXPECT_EQ(output.flushed, output.bytes.size()) << "unflushed output";
        }
    }
};

std::string repeat(std::string_view unit, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += unit;
    return out;
}

const std::string full_cell = "\xE2\x96\x88";
const std::string empty_cell = "\xE2\x94\x80";

std::string bar(std::size_t filled) {
    return "[" + repeat(full_cell, filled) + repeat(empty_cell, 30 - filled) + "]";
}

const std::string redraw = "\r\x1b[2K";

using Kind = ProgressKind;

TEST(ConsoleReporterTest, EventsWriteTheirStepLines) {
    struct Case {
        std::string_view name;
        std::vector<ProgressEvent> events;
        std::string output;
        bool line_open;
    };
    const Case cases[] = {
        {"check begins", {Kind::CheckingForUpdate}, "Checking launcher...          ", true},
        {"check done",
         {Kind::CheckingForUpdate, Kind::UpdateCheckDone},
         "Checking launcher...          OK\n",
         false},
        {"closing with nothing open writes nothing",
         {Kind::UpdateCheckDone, Kind::Verified, Kind::Installed, Kind::PreviousRestored},
         "",
         false},
        {"verifying",
         {Kind::Verifying, Kind::Verified},
         "Verifying...                  OK\n",
         false},
        {"installing",
         {Kind::Installing, Kind::Installed},
         "Installing launcher...        OK\n",
         false},
        {"restoring fills the column exactly",
         {Kind::RestoringPrevious, Kind::PreviousRestored},
         "Restoring previous launcher...OK\n",
         false},
        {"a new step closes the open one",
         {Kind::CheckingForUpdate, Kind::Verifying},
         "Checking launcher...          OK\nVerifying...                  ",
         true},
        {"starting after installed",
         {Kind::Installing, Kind::Installed, Kind::StartingLauncher},
         "Installing launcher...        OK\nStarting launcher...\n",
         false},
        {"starting closes an open step",
         {Kind::RestoringPrevious, Kind::StartingLauncher},
         "Restoring previous launcher...OK\nStarting launcher...\n",
         false},
        {"starting alone", {Kind::StartingLauncher}, "Starting launcher...\n", false},
        {"download starts with zero bytes",
         {DownloadStarted{"0.4.2"}},
         redraw + "Downloading v0.4.2... 0 bytes " + bar(0),
         false},
        {"download finished ends the line",
         {DownloadStarted{"0.4.2"}, Kind::DownloadFinished},
         redraw + "Downloading v0.4.2... 0 bytes " + bar(0) + "\n",
         false},
        {"progress before any download has no version",
         {DownloadProgress{10, 20}},
         redraw + "Downloading v...  50% " + bar(15),
         false},
        {"progress after the download finished has no version",
         {DownloadStarted{"1.0.0"}, Kind::DownloadFinished, DownloadProgress{1, std::nullopt}},
         redraw + "Downloading v1.0.0... 0 bytes " + bar(0) + "\n" + redraw +
             "Downloading v... 1 bytes " + bar(0),
         false},
        {"a new download replaces the version",
         {DownloadStarted{"1.0.0"}, DownloadStarted{"2.0.0"}, DownloadProgress{3, 3}},
         redraw + "Downloading v1.0.0... 0 bytes " + bar(0) + redraw +
             "Downloading v2.0.0... 0 bytes " + bar(0) + redraw + "Downloading v2.0.0... 100% " +
             bar(30),
         false},
    };
    for (const Case& c : cases) {
        Console console;
        console.report_all(c.events);
        EXPECT_EQ(console.output.bytes, c.output) << c.name;
        EXPECT_EQ(console.error.bytes, "") << c.name;
        EXPECT_EQ(console.reporter.line_open(), c.line_open) << c.name;
    }
}

TEST(ConsoleReporterTest, CacheWarningGoesToStandardErrorOnly) {
    Console console;
    console.report_all({Kind::Installing, Kind::CacheSaveFailed});
    EXPECT_EQ(console.error.bytes,
              "Warning: the launcher verification cache could not be saved.\n");
    EXPECT_EQ(console.error.flushed, console.error.bytes.size());
    // The open step stays open on standard output.
    EXPECT_EQ(console.output.bytes, "Installing launcher...        ");
    EXPECT_TRUE(console.reporter.line_open());
}

TEST(ConsoleReporterTest, DownloadVersionIsCopied) {
    Console console;
    std::string version = "3.1.4";
    console.reporter.report(DownloadStarted{version});
    version = "9.9.9";
    console.reporter.report(DownloadProgress{0, 10});
    EXPECT_EQ(console.output.bytes, redraw + "Downloading v3.1.4... 0 bytes " + bar(0) + redraw +
                                        "Downloading v3.1.4...   0% " + bar(0));
}

TEST(ConsoleReporterTest, DownloadLineShowsPercentOrByteCount) {
    constexpr std::uint64_t max = UINT64_MAX;
    struct Case {
        std::uint64_t downloaded;
        std::optional<std::uint64_t> total;
        std::string_view amount;
        std::size_t filled;
    };
    const Case cases[] = {
        {0, std::nullopt, "0 bytes", 0},
        {123456, std::nullopt, "123456 bytes", 0},
        {max, std::nullopt, "18446744073709551615 bytes", 0},
        {0, 0, "  0%", 0},
        {5, 0, "  0%", 0},
        {0, 1000, "  0%", 0},
        {1, 100, "  1%", 0},
        {4, 100, "  4%", 1},
        {1, 3, " 33%", 10},
        {2, 3, " 66%", 20},
        {500, 1000, " 50%", 15},
        {999, 1000, " 99%", 29},
        {1000, 1000, "100%", 30},
        {5000, 1000, "100%", 30},
        {max, 1, "100%", 30},
        // Counts this large stay exact instead of saturating.
        {max, max, "100%", 30},
        {max / 2, max, " 49%", 14},
        {max - 1, max, " 99%", 29},
        {std::uint64_t(1) << 62, std::uint64_t(1) << 63, " 50%", 15},
    };
    for (const Case& c : cases) {
        Console console;
        console.reporter.report(DownloadStarted{"0.1.0"});
        console.output.bytes.clear();
        console.reporter.report(DownloadProgress{c.downloaded, c.total});
        EXPECT_EQ(console.output.bytes,
                  redraw + "Downloading v0.1.0... " + std::string(c.amount) + " " + bar(c.filled))
            << c.downloaded << " of " << (c.total ? std::to_string(*c.total) : "unknown");
    }
}

TEST(ConsoleReporterTest, UpdateTranscriptIsExact) {
    Console console;
    console.report_all({Kind::CheckingForUpdate, Kind::UpdateCheckDone, DownloadStarted{"0.3.1"},
                        DownloadProgress{0, 4096}, DownloadProgress{2048, 4096},
                        DownloadProgress{4096, 4096}, Kind::DownloadFinished, Kind::Verifying,
                        Kind::Verified, Kind::Installing, Kind::Installed, Kind::StartingLauncher});
    const std::string expected =
        "Checking launcher...          OK\n"
        "\r\x1b[2KDownloading v0.3.1... 0 bytes "
        "[\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "\u2500"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "]"
        "\r\x1b[2KDownloading v0.3.1...   0% "
        "[\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "\u2500"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "]"
        "\r\x1b[2KDownloading v0.3.1...  50% "
        "[\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588"
        "\u2588"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
        "]"
        "\r\x1b[2KDownloading v0.3.1... 100% "
        "[\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588"
        "\u2588"
        "\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588"
        "]"
        "\n"
        "Verifying...                  OK\n"
        "Installing launcher...        OK\n"
        "Starting launcher...\n";
    EXPECT_EQ(console.output.bytes, expected);
    EXPECT_EQ(console.error.bytes, "");
    EXPECT_EQ(console.output.bytes.find("\r\n"), std::string::npos);
}

TEST(ConsoleReporterTest, CurrentLauncherTranscriptIsTwoLines) {
    Console console;
    console.report_all({Kind::CheckingForUpdate, Kind::UpdateCheckDone, Kind::StartingLauncher});
    EXPECT_EQ(console.output.bytes, "Checking launcher...          OK\nStarting launcher...\n");
}

TEST(ConsoleReporterTest, FrameStepsShareTheOpenLine) {
    Console console;
    console.reporter.begin_step("Bootstrap install/repair...");
    EXPECT_TRUE(console.reporter.line_open());
    console.report_all({Kind::CheckingForUpdate});
    console.reporter.close_step();
    console.reporter.close_step();
    console.reporter.begin_step("A title longer than thirty columns");
    EXPECT_EQ(console.output.bytes,
              "Bootstrap install/repair...   OK\n"
              "Checking launcher...          OK\n"
              "A title longer than thirty columns");
    EXPECT_EQ(console.output.flushed, console.output.bytes.size());
}

TEST(ConsoleReporterTest, FailureClosesTheOpenLineOnce) {
    struct Case {
        std::string_view name;
        std::vector<ProgressEvent> events;
        std::string_view mark;  // written by close_failed_line
    };
    const Case cases[] = {
        {"inside a download",
         {Kind::CheckingForUpdate, Kind::UpdateCheckDone, DownloadStarted{"1.2.3"},
          DownloadProgress{5, 10}},
         " FAILED\n"},
        {"a step", {Kind::Verifying}, "FAILED\n"},
        {"a step begun after a download",
         {DownloadStarted{"1"}, Kind::DownloadFinished, Kind::Installing},
         "FAILED\n"},
        {"nothing open", {Kind::Verifying, Kind::Verified}, ""},
        {"nothing at all", {}, ""},
    };
    for (const Case& c : cases) {
        Console console;
        console.report_all(c.events);
        const std::string before = console.output.bytes;
        console.reporter.close_failed_line();
        EXPECT_EQ(console.output.bytes, before + std::string(c.mark)) << c.name;
        EXPECT_EQ(console.output.flushed, console.output.bytes.size()) << c.name;
        EXPECT_FALSE(console.reporter.line_open()) << c.name;

        // Both marks are spent: a second failure writes nothing more.
        console.reporter.close_failed_line();
        console.reporter.begin_step("Next");
        EXPECT_EQ(console.output.bytes,
                  before + std::string(c.mark) + "Next" + std::string(26, ' '))
            << c.name;
    }
}

TEST(ConsoleReporterTest, FailedBootstrapStepIsPaddedBeforeTheMark) {
    Console console;
    console.reporter.begin_step("Bootstrap install/repair...");
    console.reporter.close_failed_line();
    EXPECT_EQ(console.output.bytes, "Bootstrap install/repair...   FAILED\n");
}

}  // namespace
}  // namespace vantrel
