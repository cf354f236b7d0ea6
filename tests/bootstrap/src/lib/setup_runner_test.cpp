#include "lib/setup_runner.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

// Everything one worker sent, up to the closed channel.
std::vector<Receipt> worker_messages(SetupFunction setup) {
    SetupRunner runner(std::move(setup));
    ProgressChannel channel = make_progress_channel();
    run_worker(runner, std::move(channel.sender));
    std::vector<Receipt> received;
    while (!std::holds_alternative<ChannelClosed>(
        received.emplace_back(channel.receiver.try_receive()))) {
    }
    return received;
}

TEST(SetupRunnerTest, TheFinalMessageIsTheLastBeforeTheChannelCloses) {
    struct Case {
        std::string_view name;
        SetupFunction setup;
        std::optional<std::string> failure;
    };
    const std::string long_sentence(600, 's');
    const Case cases[] = {
        {"success", [](StatusSender&) { return SentenceStatus(); }, std::nullopt},
        {"a sentence", [](StatusSender&) { return SentenceStatus(std::string("No files.")); },
         "No files."},
        {"cut to 512", [&](StatusSender&) { return SentenceStatus(long_sentence); },
         std::string(512, 's')},
        {"a fault that unwinds",
         [](StatusSender&) -> SentenceStatus { throw std::runtime_error("detail"); },
         std::string(setup_fault_text)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Receipt> received = worker_messages([&](StatusSender& sender) {
            EXPECT_TRUE(sender.send(StatusUpdate{"Checking for an update.", std::nullopt}));
            return c.setup(sender);
        });
        ASSERT_EQ(received.size(), 3u);
        EXPECT_TRUE(std::holds_alternative<StatusUpdate>(received[0]));
        EXPECT_EQ(std::get<SetupFinished>(received[1]).failure, c.failure);
    }
}

TEST(SetupRunnerTest, RunsOneAfterAnother) {
    std::atomic<int> inside = 0;
    std::atomic<int> overlaps = 0;
    SetupRunner runner([&](StatusSender&) {
        if (inside.fetch_add(1) != 0)
            ++overlaps;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        --inside;
        return SentenceStatus();
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            ProgressChannel channel = make_progress_channel();
            run_worker(runner, std::move(channel.sender));
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(overlaps, 0);
}

}  // namespace
}  // namespace vantrel
