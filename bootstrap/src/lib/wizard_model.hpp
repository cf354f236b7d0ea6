#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lib/progress_channel.hpp"
#include "lib/result.hpp"
#include "lib/wizard_pages.hpp"

namespace vantrel {

// Success, or the one sentence the wizard shows for a failure.
using SentenceStatus = BasicResult<void, std::string>;

inline constexpr std::string_view preparing_text = "Preparing installation\u2026";
inline constexpr std::string_view no_worker_text = "Setup could not start. Please try again.";
inline constexpr std::string_view worker_vanished_text =
    "Setup stopped unexpectedly. Click Retry to try again.";

// The window keeps at most this many status updates of one timer tick.
inline constexpr std::size_t status_updates_per_tick = 32;

// What the window shows, apart from the window objects themselves.
struct WizardModel {
    std::optional<ProgressReceiver> receiver;  // while a run is in progress
    std::string status;
    std::optional<std::uint32_t> percent;
    WizardPage page = WizardPage::Welcome;
    bool launcher_present = false;
    bool launch_failed = false;
};

// The status line under the body: on the installing page with the percentage.
std::string shown_status(const WizardModel& model);

// What the window does for the model.
class WizardActions {
  public:
    virtual ~WizardActions() = default;

    // Runs the setup on a thread of its own that sends on sender. False when no thread can
    // be made; the sender is then dropped.
    virtual bool start_worker(ProgressSender sender) = 0;
    // Starts the installed launcher.
    virtual SentenceStatus launch() = 0;
};

enum class WizardCommand : std::uint8_t { Ok, Back, Cancel, LaunchBox };

// What the window does after a command.
struct CommandEffect {
    bool refresh = false;
    bool focus_ok = false;
    std::optional<int> end_code;  // end the dialog with this value

    friend bool operator==(const CommandEffect&, const CommandEffect&) = default;
};

// Cancel also stands for closing the window.
CommandEffect on_command(WizardModel& model, WizardCommand command, bool launch_box_checked,
                         WizardActions& actions);

// Install or Retry: a new channel and a new worker; the page then needs a refresh.
void begin_run(WizardModel& model, WizardActions& actions);

// One timer tick: takes what has arrived. True when the page needs a refresh.
bool drain_progress(WizardModel& model);

}  // namespace vantrel
