#include "bootstrap_test_support.hpp"

#include <algorithm>

#include "update_test_support.hpp"

namespace vantrel::testing {
bool ScriptedBootstrapSteps::failing(std::string_view step) const {
    return std::find(failing_.begin(), failing_.end(), step) != failing_.end();
}

Status ScriptedBootstrapSteps::take_lock() {
    // The second taking is the one after a failed start of the installed copy.
    ++locks_taken_;
    if (failing(locks_taken_ == 1 ? "lock" : "lock again"))
        return injected(Stage::Bootstrap);
    return real_.take_lock();
}

IoStatus ScriptedBootstrapSteps::create_recovery_folder() {
    return failing("recovery folder") ? injected() : real_.create_recovery_folder();
}

IoStatus ScriptedBootstrapSteps::record_claim() {
    return failing("claim") ? injected() : real_.record_claim();
}

IoResult<bool> ScriptedBootstrapSteps::claim_is_ours() {
    if (failing("claim taken"))
        return false;
    return real_.claim_is_ours();
}

IoStatus ScriptedBootstrapSteps::stage_copy() {
    return failing("copy") ? injected() : real_.stage_copy();
}

IoStatus ScriptedBootstrapSteps::back_up_bootstrap() {
    return failing("back up bootstrap") ? injected() : real_.back_up_bootstrap();
}

Result<bool> ScriptedBootstrapSteps::write_temp_shortcut(bool force) {
    if (failing("shortcut write"))
        return injected(Stage::Bootstrap);
    return real_.write_temp_shortcut(force);
}

IoStatus ScriptedBootstrapSteps::back_up_shortcut() {
    return failing("back up shortcut") ? injected() : real_.back_up_shortcut();
}

IoStatus ScriptedBootstrapSteps::move_staged_copy_into_place() {
    return failing("move bootstrap") ? injected() : real_.move_staged_copy_into_place();
}

IoStatus ScriptedBootstrapSteps::move_temp_shortcut_into_place() {
    return failing("move shortcut") ? injected() : real_.move_temp_shortcut_into_place();
}

IoStatus ScriptedBootstrapSteps::restore_bootstrap(bool existed) {
    return failing("restore bootstrap") ? injected() : real_.restore_bootstrap(existed);
}

IoStatus ScriptedBootstrapSteps::restore_shortcut(bool existed) {
    return failing("restore shortcut") ? injected() : real_.restore_shortcut(existed);
}

Status ScriptedBootstrapSteps::start_installed_bootstrap(bool console) {
    return failing("start") ? injected(Stage::Bootstrap) : real_.start_installed_bootstrap(console);
}

Status ScriptedBootstrapSteps::update_setup_shortcut() {
    return failing("setup shortcut") ? injected(Stage::Bootstrap) : real_.update_setup_shortcut();
}

Status ScriptedBootstrapSteps::register_apps_entry() {
    return failing("register") ? injected(Stage::Bootstrap) : real_.register_apps_entry();
}

}  // namespace vantrel::testing
