#include "lib/wizard_model.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace vantrel {
namespace {

using enum WizardPage;
constexpr std::string_view launch_sentence = "We couldn't open the Launcher. Please try again.";

class FakeActions final : public WizardActions {
  public:
    bool start_worker(ProgressSender given) override {
        ++starts;
        if (!thread_available)
            return false;
        sender.emplace(std::move(given));
        return true;
    }
    SentenceStatus launch() override {
        ++launches;
        if (launch_fails)
            return std::string(launch_sentence);
        return {};
    }

    bool thread_available = true;
    bool launch_fails = false;
    std::optional<ProgressSender> sender;
    int starts = 0;
    int launches = 0;
};

TEST(WizardPagesTest, EachPageHasItsTitleButtonsAndControls) {
    struct Row {
        WizardPage page;
        std::string_view title, ok, cancel;
        bool back, ok_cancel, close_item, launch_box, progress_bar, banner;
    };
    // clang-format off
    const Row rows[] = {
        {Welcome,    "Welcome to Orvanis Launcher Setup", "&Next >",              "Cancel", false, true,  true,  false, false, true},
        {Ready,      "Ready to install Orvanis Launcher", "&Install",             "Cancel", true,  true,  true,  false, false, false},
        {Installing, "Installing Orvanis Launcher",       "Installing\xE2\x80\xA6", "Cancel", false, false, false, false, true,  false},
        {Failed,     "Setup could not finish",            "&Retry",               "Close",  true,  true,  true,  false, false, false},
        {Finished,   "Completing Orvanis Launcher Setup", "&Finish",              "Close",  false, true,  true,  true,  false, true},
    };
    // clang-format on
    ASSERT_EQ(std::size(rows), wizard_page_count);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title);
        EXPECT_EQ(page_texts(row.page, false).title, row.title);
        EXPECT_EQ(page_texts(row.page, true).title, row.title);
        const PageButtons buttons = page_buttons(row.page, false);
        EXPECT_EQ(buttons.ok, row.ok);
        EXPECT_EQ(buttons.cancel, row.cancel);
        EXPECT_EQ(buttons.back_enabled, row.back);
        EXPECT_EQ(buttons.ok_and_cancel_enabled, row.ok_cancel);
        EXPECT_EQ(page_buttons(row.page, true).ok, row.page == Finished ? "&Retry" : row.ok);
        EXPECT_EQ(close_item_enabled(row.page), row.close_item);
        EXPECT_EQ(launch_box_shown(row.page), row.launch_box);
        EXPECT_EQ(progress_bar_shown(row.page), row.progress_bar);
        EXPECT_EQ(is_banner_page(row.page), row.banner);
        EXPECT_EQ(white_area(row.page), (DialogRect{0, 0, 410, row.banner ? 235 : 59}));
        // Only the welcome body speaks of an installed launcher.
        const bool reworded = page_texts(row.page, true).body != page_texts(row.page, false).body;
        EXPECT_EQ(reworded, row.page == Welcome);
    }
    EXPECT_TRUE(
        page_texts(Welcome, true)
            .body.starts_with(
                "This wizard will update or repair Orvanis Launcher on your computer.\r\n\r\n"));
}

TEST(WizardPagesTest, TheBarIsAMarqueeUntilAPercentageArrives) {
    EXPECT_EQ(progress_mode(Installing, std::nullopt), ProgressMode::Marquee);
    EXPECT_EQ(progress_mode(Installing, 0u), ProgressMode::Percentage);
    EXPECT_EQ(progress_mode(Finished, 100u), ProgressMode::Off);
    EXPECT_EQ(progress_mode(Failed, std::nullopt), ProgressMode::Off);
}

TEST(WizardCommandTest, EachRowOfTheCommandTable) {
    using enum WizardCommand;
    struct Row {
        WizardPage page;
        WizardCommand command;
        bool box_checked, launch_fails;
        CommandEffect effect;
        WizardPage after;
        std::string_view status_after;  // "old" when untouched
        int starts, launches;
    };
    const CommandEffect none{};
    const CommandEffect refresh{true, false, std::nullopt};
    const CommandEffect refresh_focus{true, true, std::nullopt};
    const CommandEffect end_0{false, false, 0};
    const CommandEffect end_1{false, false, 1};
    // clang-format off
    const Row rows[] = {
        {Welcome,    Ok,        true,  false, refresh_focus, Ready,      "old", 0, 0},
        {Ready,      Ok,        true,  false, refresh,       Installing, preparing_text, 1, 0},
        {Failed,     Ok,        true,  false, refresh,       Installing, preparing_text, 1, 0},
        {Installing, Ok,        true,  false, refresh_focus, Installing, "old", 0, 0},
        {Finished,   Ok,        true,  false, end_0,         Finished,   "old", 0, 1},
        {Finished,   Ok,        true,  true,  refresh,       Finished,   launch_sentence, 0, 1},
        {Finished,   Ok,        false, true,  end_0,         Finished,   "old", 0, 0},
        {Ready,      Back,      true,  false, refresh_focus, Welcome,    "", 0, 0},
        {Failed,     Back,      true,  false, refresh_focus, Welcome,    "", 0, 0},
        {Welcome,    Back,      true,  false, none,          Welcome,    "old", 0, 0},
        {Installing, Back,      true,  false, none,          Installing, "old", 0, 0},
        {Finished,   Back,      true,  false, none,          Finished,   "old", 0, 0},
        {Installing, Cancel,    true,  false, none,          Installing, "old", 0, 0},
        {Failed,     Cancel,    true,  false, end_1,         Failed,     "old", 0, 0},
        {Welcome,    Cancel,    true,  false, end_0,         Welcome,    "old", 0, 0},
        {Ready,      Cancel,    true,  false, end_0,         Ready,      "old", 0, 0},
        {Finished,   Cancel,    true,  false, end_0,         Finished,   "old", 0, 0},
        {Welcome,    LaunchBox, true,  false, none,          Welcome,    "old", 0, 0},
        {Finished,   LaunchBox, false, false, none,          Finished,   "old", 0, 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "page " << int(row.page) << " command " << int(row.command));
        WizardModel model;
        model.page = row.page;
        model.status = "old";
        model.percent = 7;
        FakeActions actions;
        actions.launch_fails = row.launch_fails;
        EXPECT_EQ(on_command(model, row.command, row.box_checked, actions), row.effect);
        EXPECT_EQ(model.page, row.after);
        EXPECT_EQ(model.status, row.status_after);
        EXPECT_EQ(model.launch_failed, row.launch_fails && row.launches > 0);
        EXPECT_EQ(actions.starts, row.starts);
        EXPECT_EQ(actions.launches, row.launches);
        EXPECT_EQ(model.receiver.has_value(), row.starts > 0);
        EXPECT_EQ(model.percent.has_value(), row.starts == 0);
    }
}

TEST(WizardCommandTest, RetryAfterAFailedLaunchAndANewRunClearTheFlag) {
    WizardModel model;
    model.page = Finished;
    FakeActions actions;
    actions.launch_fails = true;
    static_cast<void>(on_command(model, WizardCommand::Ok, true, actions));
    EXPECT_EQ(page_buttons(model.page, model.launch_failed).ok, "&Retry");
    actions.launch_fails = false;
    EXPECT_EQ(on_command(model, WizardCommand::Ok, true, actions).end_code, 0);

    model.page = Failed;
    begin_run(model, actions);
    EXPECT_FALSE(model.launch_failed);
}

StatusUpdate update(std::string text, std::optional<std::uint32_t> percent = std::nullopt) {
    return StatusUpdate{std::move(text), percent};
}

// A run started through the fake, with its sender in hand.
struct StartedRun {
    WizardModel model;
    FakeActions actions;
    ProgressSender& sender() { return *actions.sender; }

    StartedRun() {
        model.page = Ready;
        begin_run(model, actions);
    }
};

TEST(WizardDrainTest, StatusUpdatesThenTheFinalMessage) {
    StartedRun run;
    EXPECT_EQ(shown_status(run.model), preparing_text);
    EXPECT_FALSE(drain_progress(run.model));  // nothing arrived

    ASSERT_TRUE(run.sender().send(update("Downloading Orvanis Launcher.", 42)));
    EXPECT_TRUE(drain_progress(run.model));
    EXPECT_EQ(shown_status(run.model), "Downloading Orvanis Launcher. (42%)");
    ASSERT_TRUE(run.sender().send(update("The files are here.")));
    EXPECT_TRUE(drain_progress(run.model));
    EXPECT_EQ(run.model.percent, std::nullopt);

    ASSERT_TRUE(run.sender().send(update("Finishing setup.", 5)));
    ASSERT_TRUE(run.sender().send(WizardMessage(SetupFinished{})));
    EXPECT_TRUE(drain_progress(run.model));
    EXPECT_EQ(run.model.page, Finished);
    EXPECT_EQ(run.model.status, "");
    EXPECT_EQ(run.model.percent, std::nullopt);
    EXPECT_FALSE(run.model.receiver);
    EXPECT_FALSE(drain_progress(run.model));
}

TEST(WizardDrainTest, AFailureSentenceEndsOnTheFailedPage) {
    StartedRun run;
    ASSERT_TRUE(run.sender().send(update("Downloading Orvanis Launcher.", 10)));
    ASSERT_TRUE(run.sender().send(WizardMessage(SetupFinished{"We couldn't get the files."})));
    EXPECT_TRUE(drain_progress(run.model));
    EXPECT_EQ(run.model.page, Failed);
    EXPECT_EQ(run.model.status, "We couldn't get the files.");
    EXPECT_EQ(run.model.percent, std::nullopt);
    EXPECT_FALSE(run.model.receiver);
}

TEST(WizardDrainTest, AtMostThirtyTwoUpdatesATickAndTheLastOneWins) {
    StartedRun run;
    constexpr int sent = 40;
    std::atomic<int> queued = 0;
    std::thread worker([&] {
        for (int i = 0; i < sent; ++i, ++queued)
            EXPECT_TRUE(run.sender().send(update(std::to_string(i))));
    });
    // Once the channel is full the worker waits, and refills it while the tick takes.
    for (int polls = 0; queued < int(progress_channel_capacity) && polls < 5000; ++polls)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(drain_progress(run.model));
    EXPECT_EQ(run.model.status, std::to_string(status_updates_per_tick - 1));
    worker.join();
    EXPECT_TRUE(drain_progress(run.model));
    EXPECT_EQ(run.model.status, std::to_string(sent - 1));
    EXPECT_EQ(run.model.page, Installing);
}

TEST(WizardDrainTest, AClosedChannelWithoutAFinalMessage) {
    StartedRun run;
    ASSERT_TRUE(run.sender().send(update("Checking for an update.")));
    run.actions.sender.reset();
    EXPECT_TRUE(drain_progress(run.model));
    EXPECT_EQ(run.model.page, Failed);
    EXPECT_EQ(run.model.status, worker_vanished_text);
    EXPECT_FALSE(run.model.receiver);

    // No thread: the failed page says so at once, and the next tick lets the channel go.
    WizardModel model;
    model.page = Ready;
    FakeActions no_thread;
    no_thread.thread_available = false;
    begin_run(model, no_thread);
    EXPECT_EQ(model.page, Failed);
    EXPECT_EQ(model.status, no_worker_text);
    ASSERT_TRUE(model.receiver);
    EXPECT_FALSE(drain_progress(model));
    EXPECT_FALSE(model.receiver);
    EXPECT_EQ(model.status, no_worker_text);
}

TEST(WizardDrainTest, ARetryNoLongerHearsTheEarlierRun) {
    StartedRun run;
    ProgressSender earlier = std::move(*run.actions.sender);
    run.model.page = Failed;
    begin_run(run.model, run.actions);
    EXPECT_FALSE(earlier.send(update("late")));
    EXPECT_FALSE(drain_progress(run.model));
    EXPECT_EQ(run.model.status, preparing_text);
}

}  // namespace
}  // namespace vantrel
