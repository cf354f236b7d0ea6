#include "windows_wizard/wizard_worker.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <string>
#include <thread>

#include "lib/install_names.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

std::wstring this_thread_name() {
    using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    const FARPROC address =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription");
    if (address == nullptr)
        return L"(no thread names here)";
    PWSTR name = nullptr;
    if (FAILED(reinterpret_cast<GetDescription>(reinterpret_cast<void (*)()>(address))(
            GetCurrentThread(), &name))) {
        return L"(unreadable)";
    }
    std::wstring copy(name);
    LocalFree(name);
    return copy;
}

TEST(WizardWorkerTest, RunsOnANamedThreadAndEndsWithTheFinalMessage) {
    std::wstring name;
    auto runner = std::make_shared<SetupRunner>([&](StatusSender& sender) {
        name = this_thread_name();
        static_cast<void>(sender.send(StatusUpdate{"Checking for an update.", std::nullopt}));
        return SentenceStatus(std::string("No files."));
    });
    ProgressChannel channel = make_progress_channel();
    ASSERT_TRUE(start_worker_thread(runner, std::move(channel.sender)));

    std::vector<Receipt> received;
    for (int polls = 0; polls < 5000; ++polls) {
        Receipt receipt = channel.receiver.try_receive();
        if (std::holds_alternative<ChannelClosed>(receipt))
            break;
        if (!std::holds_alternative<ChannelEmpty>(receipt))
            received.push_back(std::move(receipt));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(std::get<SetupFinished>(received[1]).failure, "No files.");
    EXPECT_EQ(name, L"orvane-setup");
}

TEST(WizardWorkerTest, AFaultOutsideTheSetupCallEndsInTheFailedPage) {
    auto runner = std::make_shared<SetupRunner>([](StatusSender&) { return SentenceStatus(); });
    ProgressChannel channel = make_progress_channel();
    WizardModel model;
    model.page = WizardPage::Installing;
    model.receiver.emplace(std::move(channel.receiver));
    ASSERT_TRUE(start_worker_thread(
        runner, std::move(channel.sender), [](SetupRunner&, ProgressSender sender) {
            static_cast<void>(sender.send(StatusUpdate{"Checking for an update.", std::nullopt}));
            throw std::bad_alloc();
        }));

    for (int polls = 0; polls < 5000 && model.receiver; ++polls) {
        if (!drain_progress(model))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(model.page, WizardPage::Failed);
    EXPECT_EQ(model.status, worker_vanished_text);
}

TEST(WizardWorkerTest, LaunchingAMissingLauncherGivesTheLaunchSentence) {
    const Result<std::wstring> folder = launcher_folder();
    ASSERT_TRUE(folder);
    if (is_existing_file(join_path(*folder, to_wide(launcher_file_name))))
        GTEST_SKIP() << "this user has an installed launcher, which the launch would start";
    const SentenceStatus launched = launch_installed_launcher();
    ASSERT_FALSE(launched);
    EXPECT_EQ(launched.error(), user_message(Stage::Launch));
}

}  // namespace
}  // namespace vantrel
