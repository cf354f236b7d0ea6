#pragma once

#include "lib/progress.hpp"
#include "lib/status_update.hpp"

namespace vantrel {

// The sending end of the wizard's progress channel.
class StatusSender {
  public:
    virtual ~StatusSender() = default;

    // Waits while the channel is full. False when the window no longer receives.
    virtual bool send(StatusUpdate update) = 0;
};

// Turns each progress event into one status update for the wizard window.
class WizardReporter final : public ProgressReporter {
  public:
    explicit WizardReporter(StatusSender& sender) : sender_(sender) {}

    void report(const ProgressEvent& event) override;

  private:
    StatusSender& sender_;
};

}  // namespace vantrel
