#include "lib/wizard_reporter.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {
namespace {

class RecordingSender final : public StatusSender {
  public:
    explicit RecordingSender(bool receiver_present = true) : receiver_present_(receiver_present) {}

    bool send(StatusUpdate update) override {
        sent.push_back(std::move(update));
        return receiver_present_;
    }

    std::vector<StatusUpdate> sent;

  private:
    bool receiver_present_;
};

StatusUpdate update_for(const ProgressEvent& event) {
    RecordingSender sender;
    WizardReporter reporter(sender);
    reporter.report(event);
    EXPECT_EQ(sender.sent.size(), 1u);
    return sender.sent.empty() ? StatusUpdate{} : sender.sent.front();
}

TEST(WizardReporterTest, EachEventSendsItsSentence) {
    struct Case {
        ProgressEvent event;
        std::string_view text;
    };
    const Case cases[] = {
        {ProgressKind::CheckingForUpdate, "Checking for an update."},
        {ProgressKind::UpdateCheckDone, "Update check is done."},
        {DownloadStarted{"0.9.1"}, "Please wait, we are getting the files."},
        {DownloadProgress{7, std::nullopt}, "Downloading Orvanis Launcher."},
        {ProgressKind::DownloadFinished, "The files are here."},
        {ProgressKind::Verifying, "Checking that the files are genuine."},
        {ProgressKind::Verified, "The files passed the check."},
        {ProgressKind::Installing, "Putting the Launcher in place."},
        {ProgressKind::Installed, "The Launcher is installed."},
        {ProgressKind::RestoringPrevious, "Restoring your previous Launcher."},
        {ProgressKind::PreviousRestored, "Your previous Launcher is restored."},
        {ProgressKind::StartingLauncher, "Finishing setup."},
        {ProgressKind::CacheSaveFailed,
         "Setup is done. Please try again later if updates are slow."},
    };
    ASSERT_EQ(std::size(cases), progress_kind_count);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(cases[i].event.kind()), i);
        EXPECT_EQ(update_for(cases[i].event), (StatusUpdate{std::string(cases[i].text), {}}))
            << cases[i].text;
    }
}

TEST(WizardReporterTest, DownloadPercentOnlyWithANonZeroTotal) {
    constexpr std::uint64_t max = UINT64_MAX;
    struct Case {
        std::uint64_t downloaded;
        std::optional<std::uint64_t> total;
        std::optional<std::uint32_t> percent;
    };
    const Case cases[] = {
        {5, std::nullopt, std::nullopt},
        {0, std::nullopt, std::nullopt},
        {5, 0, std::nullopt},
        {0, 0, std::nullopt},
        {0, 1000, 0},
        {9, 1000, 0},
        {10, 1000, 1},
        {1, 3, 33},
        {2, 3, 66},
        {420, 1000, 42},
        {999, 1000, 99},
        {1000, 1000, 100},
        {5000, 1000, 100},
        {max, 1, 100},
        {max, max, 100},
        {max / 2, max, 49},
        {max - 1, max, 99},
        {std::uint64_t(1) << 62, std::uint64_t(1) << 63, 50},
    };
    for (const Case& c : cases) {
        const StatusUpdate update = update_for(DownloadProgress{c.downloaded, c.total});
        EXPECT_EQ(update.text, "Downloading Orvanis Launcher.");
        EXPECT_EQ(update.percent, c.percent)
            << c.downloaded << " of " << (c.total ? std::to_string(*c.total) : "unknown");
    }
}

TEST(WizardReporterTest, KeepsReportingWhenTheWindowIsGone) {
    RecordingSender sender(false);
    WizardReporter reporter(sender);
    reporter.report(ProgressKind::Verifying);
    reporter.report(DownloadProgress{1, 2});
    reporter.report(ProgressKind::Verified);
    ASSERT_EQ(sender.sent.size(), 3u);
    EXPECT_EQ(sender.sent[1].percent, 50u);
    EXPECT_EQ(sender.sent[2].text, "The files passed the check.");
}

std::string repeat(std::string_view unit, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += unit;
    return out;
}

TEST(StatusTextTest, CutsToTheFirst512Characters) {
    const std::string e_acute = "\xC3\xA9";
    const std::string euro = "\xE2\x82\xAC";
    const std::string emoji = "\xF0\x9F\x98\x80";
    struct Case {
        std::string_view name;
        std::string text;
        std::string cut;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"short", "Setup could not start.", "Setup could not start."},
        {"exactly 512", repeat("a", 512), repeat("a", 512)},
        {"513", repeat("a", 513), repeat("a", 512)},
        {"long", repeat("ab", 1000), repeat("ab", 256)},
        {"two-byte characters", repeat(e_acute, 600), repeat(e_acute, 512)},
        {"three-byte characters", repeat(euro, 513), repeat(euro, 512)},
        {"four-byte characters", repeat(emoji, 512) + "x", repeat(emoji, 512)},
        {"a character straddling byte 512", repeat("a", 511) + euro + "tail",
         repeat("a", 511) + euro},
        {"512 characters of mixed width", repeat("a" + e_acute + euro + emoji, 128),
         repeat("a" + e_acute + euro + emoji, 128)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cut_status_text(c.text), c.cut) << c.name;
}

TEST(StatusTextTest, LineShowsThePercentInBrackets) {
    struct Case {
        std::string_view text;
        std::optional<std::uint32_t> percent;
        std::string_view line;
    };
    const Case cases[] = {
        {"Downloading Orvanis Launcher.", 42, "Downloading Orvanis Launcher. (42%)"},
        {"Downloading Orvanis Launcher.", 0, "Downloading Orvanis Launcher. (0%)"},
        {"Downloading Orvanis Launcher.", 100, "Downloading Orvanis Launcher. (100%)"},
        {"Checking for an update.", std::nullopt, "Checking for an update."},
        {"", std::nullopt, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(status_line(c.text, c.percent), c.line);
}

}  // namespace
}  // namespace vantrel
