#pragma once

#include <functional>
#include <mutex>
#include <string_view>

#include "lib/progress_channel.hpp"
#include "lib/wizard_model.hpp"

namespace vantrel {

inline constexpr std::string_view setup_fault_text =
    "Setup stopped unexpectedly. Please try again.";

// The work of a setup run, reporting through the sender.
using SetupFunction = std::function<SentenceStatus(StatusSender&)>;

// One setup function shared by all runs of a dialog; runs strictly one after another.
class SetupRunner {
  public:
    explicit SetupRunner(SetupFunction setup) : setup_(std::move(setup)) {}

    // The run's final message. A fault that unwinds out of the setup ends the run with
    // setup_fault_text; its payload is not shown.
    SetupFinished run(StatusSender& sender);

  private:
    std::mutex mutex_;
    SetupFunction setup_;
};

// The worker thread's body: the run, then its final message. The channel closes when
// this returns.
void run_worker(SetupRunner& runner, ProgressSender sender);

}  // namespace vantrel
