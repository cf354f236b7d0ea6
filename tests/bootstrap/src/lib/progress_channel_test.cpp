#include "lib/progress_channel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace vantrel {
namespace {

StatusUpdate numbered(std::size_t n) {
    return StatusUpdate{std::to_string(n), std::nullopt};
}

std::string text_of(const Receipt& receipt) {
    const auto* update = std::get_if<StatusUpdate>(&receipt);
    return update ? update->text : "(no update)";
}

TEST(ProgressChannelTest, HoldsThirtyTwoThenTheSenderWaitsForTheReceiver) {
    ProgressChannel channel = make_progress_channel();
    for (std::size_t i = 0; i < progress_channel_capacity; ++i)
        ASSERT_TRUE(channel.sender.send(numbered(i)));

    std::atomic<bool> sent = false;
    std::thread late([&] {
        EXPECT_TRUE(channel.sender.send(numbered(progress_channel_capacity)));
        sent = true;
    });
    // Not proof of waiting, but a sender that ignores the bound returns at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(sent);

    EXPECT_EQ(text_of(channel.receiver.try_receive()), "0");
    late.join();
    EXPECT_TRUE(sent);
    for (std::size_t i = 1; i <= progress_channel_capacity; ++i)
        EXPECT_EQ(text_of(channel.receiver.try_receive()), std::to_string(i));
    EXPECT_TRUE(std::holds_alternative<ChannelEmpty>(channel.receiver.try_receive()));
}

TEST(ProgressChannelTest, CloseIsSeenOnlyAfterTheLastMessage) {
    ProgressChannel channel = make_progress_channel();
    {
        ProgressSender sender = std::move(channel.sender);
        ASSERT_TRUE(sender.send(numbered(1)));
        ASSERT_TRUE(sender.send(WizardMessage(SetupFinished{"Failed."})));
    }
    EXPECT_EQ(text_of(channel.receiver.try_receive()), "1");
    EXPECT_EQ(std::get<SetupFinished>(channel.receiver.try_receive()).failure, "Failed.");
    EXPECT_TRUE(std::holds_alternative<ChannelClosed>(channel.receiver.try_receive()));
    EXPECT_TRUE(std::holds_alternative<ChannelClosed>(channel.receiver.try_receive()));
}

TEST(ProgressChannelTest, DroppingTheReceiverFreesAWaitingSender) {
    ProgressChannel channel = make_progress_channel();
    std::atomic<bool> full = false;
    std::thread worker([&full, sender = std::move(channel.sender)]() mutable {
        for (std::size_t i = 0; i < progress_channel_capacity; ++i)
            EXPECT_TRUE(sender.send(numbered(i)));
        full = true;
        EXPECT_FALSE(sender.send(WizardMessage(SetupFinished{})));
    });
    for (int polls = 0; !full && polls < 5000; ++polls)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(full);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it wait in send
    { ProgressReceiver dropped = std::move(channel.receiver); }
    worker.join();
}

}  // namespace
}  // namespace vantrel
