#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "lib/status_update.hpp"
#include "lib/wizard_reporter.hpp"

namespace vantrel {

// The last message of a setup run: no text on success, else the sentence to show.
struct SetupFinished {
    std::optional<std::string> failure;  // at most status_text_limit characters

    friend bool operator==(const SetupFinished&, const SetupFinished&) = default;
};

using WizardMessage = std::variant<StatusUpdate, SetupFinished>;

// A worker that reports faster than the window drains waits instead of queueing more.
inline constexpr std::size_t progress_channel_capacity = 32;

struct ChannelEmpty {};
struct ChannelClosed {};  // the sending end is gone and every message was taken

// What one receive without waiting found.
using Receipt = std::variant<StatusUpdate, SetupFinished, ChannelEmpty, ChannelClosed>;

struct ProgressChannelShared;

// The worker's end. Dropping it closes the channel.
class ProgressSender final : public StatusSender {
  public:
    explicit ProgressSender(std::shared_ptr<ProgressChannelShared> shared)
        : shared_(std::move(shared)) {}
    ~ProgressSender() override;
    ProgressSender(ProgressSender&&) noexcept = default;
    ProgressSender& operator=(ProgressSender&& other) noexcept;

    bool send(StatusUpdate update) override;
    // Waits while the channel is full. False when the receiving end is gone.
    bool send(WizardMessage message);

  private:
    void close();

    std::shared_ptr<ProgressChannelShared> shared_;
};

// The window's end. Dropping it discards what is queued and frees a waiting sender.
class ProgressReceiver {
  public:
    explicit ProgressReceiver(std::shared_ptr<ProgressChannelShared> shared)
        : shared_(std::move(shared)) {}
    ~ProgressReceiver();
    ProgressReceiver(ProgressReceiver&&) noexcept = default;
    ProgressReceiver& operator=(ProgressReceiver&& other) noexcept;

    // Never waits.
    Receipt try_receive();

  private:
    void close();

    std::shared_ptr<ProgressChannelShared> shared_;
};

struct ProgressChannel {
    ProgressSender sender;
    ProgressReceiver receiver;
};

ProgressChannel make_progress_channel();

}  // namespace vantrel
