#pragma once

#include <memory>

#include "lib/progress_channel.hpp"
#include "lib/setup_runner.hpp"
#include "lib/wizard_model.hpp"

namespace vantrel {

// The whole setup on this system: the bootstrap install or repair without a restart,
// then the wizard form of the launcher update. Fails with the stage's sentence only.
SentenceStatus run_wizard_setup(StatusSender& sender);

// What the worker thread does with its runner and sender; tests give one that throws.
using WorkerBody = void (*)(SetupRunner& runner, ProgressSender sender);

// Starts the named, detached worker thread of one run. False when the thread cannot be
// made; the sender is then gone with it.
bool start_worker_thread(std::shared_ptr<SetupRunner> runner, ProgressSender sender,
                         WorkerBody body = run_worker);

// Starts the installed launcher; fails with the stage's sentence.
SentenceStatus launch_installed_launcher();

}  // namespace vantrel
