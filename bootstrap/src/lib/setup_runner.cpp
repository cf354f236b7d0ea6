#include "lib/setup_runner.hpp"

#include <optional>
#include <utility>

namespace vantrel {

SetupFinished SetupRunner::run(StatusSender& sender) {
    std::optional<SentenceStatus> outcome;
    {
        const std::lock_guard lock(mutex_);
        try {
            outcome.emplace(setup_(sender));
        } catch (...) {
            // The worker's one boundary: nothing may unwind out of the thread.
        }
    }
    if (!outcome)
        return SetupFinished{std::string(setup_fault_text)};
    if (*outcome)
        return SetupFinished{};
    return SetupFinished{cut_status_text(std::move(*outcome).error())};
}

void run_worker(SetupRunner& runner, ProgressSender sender) {
    // The mutex is free again before the final message, so a retry never waits for us.
    SetupFinished finished = runner.run(sender);
    // A window that has gone no longer wants it.
    static_cast<void>(sender.send(WizardMessage(std::move(finished))));
}

}  // namespace vantrel
