#include "lib/wizard_model.hpp"

#include <type_traits>
#include <utility>

namespace vantrel {
namespace {

constexpr int end_done = 0;
constexpr int end_failed = 1;  // only the failed page's Close gives this

CommandEffect refreshed(bool focus_ok) {
    CommandEffect effect;
    effect.refresh = true;
    effect.focus_ok = focus_ok;
    return effect;
}

CommandEffect ended(int code) {
    CommandEffect effect;
    effect.end_code = code;
    return effect;
}

CommandEffect on_ok(WizardModel& model, bool launch_box_checked, WizardActions& actions) {
    switch (model.page) {
        case WizardPage::Welcome:
            model.page = WizardPage::Ready;
            return refreshed(true);
        case WizardPage::Ready:
        case WizardPage::Failed:
            begin_run(model, actions);
            return refreshed(false);
        case WizardPage::Installing:
            return refreshed(true);
        case WizardPage::Finished:
            break;
    }
    if (!launch_box_checked)
        return ended(end_done);
    SentenceStatus launched = actions.launch();
    if (launched)
        return ended(end_done);
    model.launch_failed = true;
    model.status = cut_status_text(std::move(launched).error());
    return refreshed(false);
}

CommandEffect on_back(WizardModel& model) {
    if (model.page != WizardPage::Ready && model.page != WizardPage::Failed)
        return {};
    model.page = WizardPage::Welcome;
    model.status.clear();
    return refreshed(true);
}

CommandEffect on_cancel(const WizardModel& model) {
    switch (model.page) {
        case WizardPage::Installing:
            return {};
        case WizardPage::Failed:
            return ended(end_failed);
        default:
            return ended(end_done);
    }
}

void finish_run(WizardModel& model, WizardPage page, std::string status) {
    model.page = page;
    model.status = std::move(status);
    model.percent.reset();
    model.receiver.reset();
}

}  // namespace

std::string shown_status(const WizardModel& model) {
    if (model.page == WizardPage::Installing)
        return status_line(model.status, model.percent);
    return model.status;
}

CommandEffect on_command(WizardModel& model, WizardCommand command, bool launch_box_checked,
                         WizardActions& actions) {
    switch (command) {
        case WizardCommand::Ok:
            return on_ok(model, launch_box_checked, actions);
        case WizardCommand::Back:
            return on_back(model);
        case WizardCommand::Cancel:
            return on_cancel(model);
        case WizardCommand::LaunchBox:
            break;
    }
    return {};
}

void begin_run(WizardModel& model, WizardActions& actions) {
    model.page = WizardPage::Installing;
    model.status = preparing_text;
    model.percent.reset();
    model.launch_failed = false;
    ProgressChannel channel = make_progress_channel();
    // Messages of an earlier run can no longer arrive once its receiver is gone.
    model.receiver.emplace(std::move(channel.receiver));
    if (!actions.start_worker(std::move(channel.sender))) {
        model.page = WizardPage::Failed;
        model.status = no_worker_text;
    }
}

bool drain_progress(WizardModel& model) {
    if (!model.receiver)
        return false;
    bool changed = false;
    for (std::size_t updates = 0; updates < status_updates_per_tick;) {
        Receipt receipt = model.receiver->try_receive();
        if (auto* update = std::get_if<StatusUpdate>(&receipt)) {
            model.status = std::move(update->text);
            model.percent = update->percent;
            changed = true;
            ++updates;
        } else if (auto* finished = std::get_if<SetupFinished>(&receipt)) {
            if (finished->failure)
                finish_run(model, WizardPage::Failed, std::move(*finished->failure));
            else
                finish_run(model, WizardPage::Finished, {});
            return true;
        } else if (std::holds_alternative<ChannelEmpty>(receipt)) {
            return changed;
        } else if (model.page == WizardPage::Installing) {
            finish_run(model, WizardPage::Failed, std::string(worker_vanished_text));
            return true;
        } else {
            // Only a run whose thread never started ends here: the page already says so.
            model.receiver.reset();
            return changed;
        }
    }
    return true;
}

}  // namespace vantrel
