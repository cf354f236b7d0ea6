#include "windows_wizard/wizard_worker.hpp"

#include <windows.h>

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "lib/bootstrap_install.hpp"
#include "lib/install_names.hpp"
#include "lib/update_pipeline.hpp"
#include "lib/wizard_reporter.hpp"
#include "process/launcher_process.hpp"
#include "windows/install_layout.hpp"
#include "windows/unique_handle.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/windows_bootstrap_steps.hpp"
#include "windows_installer/windows_update_steps.hpp"

namespace vantrel {
namespace {

constexpr wchar_t worker_thread_name[] = L"orvane-setup";

struct WorkerTask {
    std::shared_ptr<SetupRunner> runner;
    ProgressSender sender;
    WorkerBody body;
};

std::string sentence_of(const Error& failure) {
    return std::string(user_message(failure.stage()));
}

// SetThreadDescription came with Windows 10 1607; without it the thread stays unnamed.
void name_this_thread() {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return;
    const FARPROC address = GetProcAddress(kernel, "SetThreadDescription");
    if (address == nullptr)
        return;
    const auto set_description =
        reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(address));
    static_cast<void>(set_description(GetCurrentThread(), worker_thread_name));
}

DWORD WINAPI worker_main(void* parameter) {
    std::unique_ptr<WorkerTask> task(static_cast<WorkerTask*>(parameter));
    name_this_thread();
    try {
        task->body(*task->runner, std::move(task->sender));
    } catch (...) {
        // Nothing may end the process from here (an allocation failing while the final
        // message is sent): the channel closes without it, and the window says so.
    }
    return 0;
}

}  // namespace

SentenceStatus run_wizard_setup(StatusSender& sender) {
    {
        WindowsBootstrapSteps steps;
        const Result<bool> installed =
            install_or_repair_bootstrap({.restart = false, .console = false}, steps);
        if (!installed)
            return sentence_of(installed.error());
    }
    WizardReporter reporter(sender);
    WindowsUpdateSteps steps;
    UpdateResult updated = update_launcher(reporter, PipelineForm::Wizard, steps);
    if (updated)
        return {};
    return std::visit(
        [](const auto& failure) -> std::string {
            if constexpr (std::is_same_v<std::decay_t<decltype(failure)>, Error>)
                return sentence_of(failure);
            else
                return std::string(failure);
        },
        std::move(updated).error());
}

bool start_worker_thread(std::shared_ptr<SetupRunner> runner, ProgressSender sender,
                         WorkerBody body) {
    auto task = std::make_unique<WorkerTask>(std::move(runner), std::move(sender), body);
    // No one joins the worker: its handle is closed at once.
    const UniqueHandle thread(CreateThread(nullptr, 0, worker_main, task.get(), 0, nullptr));
    if (!thread)
        return false;
    static_cast<void>(task.release());  // the thread owns it now
    return true;
}

SentenceStatus launch_installed_launcher() {
    const Result<std::wstring> folder = launcher_folder();
    if (!folder)
        return sentence_of(folder.error());
    const Status started = start_launcher(join_path(*folder, to_wide(launcher_file_name)));
    if (!started)
        return sentence_of(started.error());
    return {};
}

}  // namespace vantrel
