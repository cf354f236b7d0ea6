#include "lib/progress_channel.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace vantrel {

struct ProgressChannelShared {
    std::mutex mutex;
    std::condition_variable room;  // signalled when a message is taken or the receiver goes
    std::deque<WizardMessage> queue;
    bool sender_open = true;
    bool receiver_open = true;
};

ProgressChannel make_progress_channel() {
    auto shared = std::make_shared<ProgressChannelShared>();
    return ProgressChannel{ProgressSender(shared), ProgressReceiver(shared)};
}

ProgressSender::~ProgressSender() {
    close();
}

ProgressSender& ProgressSender::operator=(ProgressSender&& other) noexcept {
    if (this != &other) {
        close();
        shared_ = std::move(other.shared_);
    }
    return *this;
}

void ProgressSender::close() {
    if (!shared_)
        return;
    const std::lock_guard lock(shared_->mutex);
    shared_->sender_open = false;
    // The receiver never waits, so there is no one to wake.
}

bool ProgressSender::send(StatusUpdate update) {
    return send(WizardMessage(std::move(update)));
}

bool ProgressSender::send(WizardMessage message) {
    if (!shared_)
        return false;
    std::unique_lock lock(shared_->mutex);
    shared_->room.wait(lock, [&] {
        return !shared_->receiver_open || shared_->queue.size() < progress_channel_capacity;
    });
    if (!shared_->receiver_open)
        return false;
    shared_->queue.push_back(std::move(message));
    return true;
}

ProgressReceiver::~ProgressReceiver() {
    close();
}

ProgressReceiver& ProgressReceiver::operator=(ProgressReceiver&& other) noexcept {
    if (this != &other) {
        close();
        shared_ = std::move(other.shared_);
    }
    return *this;
}

void ProgressReceiver::close() {
    if (!shared_)
        return;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->receiver_open = false;
        shared_->queue.clear();
    }
    shared_->room.notify_all();
}

Receipt ProgressReceiver::try_receive() {
    if (!shared_)
        return ChannelClosed{};
    std::unique_lock lock(shared_->mutex);
    if (shared_->queue.empty())
        return shared_->sender_open ? Receipt(ChannelEmpty{}) : Receipt(ChannelClosed{});
    WizardMessage message = std::move(shared_->queue.front());
    shared_->queue.pop_front();
    lock.unlock();
    shared_->room.notify_one();
    return std::visit([](auto&& taken) { return Receipt(std::move(taken)); }, std::move(message));
}

}  // namespace vantrel
