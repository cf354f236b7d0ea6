#include "windows_wizard/wizard_role.hpp"

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "lib/banner_image.hpp"
#include "lib/install_names.hpp"
#include "lib/product.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/wide_text.hpp"
#include "windows_wizard/dialog_template.hpp"
#include "windows_wizard/wizard_window.hpp"
#include "windows_wizard/wizard_worker.hpp"

namespace vantrel {
namespace {

constexpr int could_not_open_exit_code = 1;
constexpr std::string_view could_not_open_text = "Setup could not open. Please try again.";

// Selects the "update or repair" wording; a folder that cannot be found means no.
bool launcher_present() {
    const Result<std::wstring> folder = launcher_folder();
    return folder && is_existing_file(join_path(*folder, to_wide(launcher_file_name)));
}

}  // namespace

WizardShell real_wizard_shell() {
    return {
        .run_dialog =
            [](const DLGTEMPLATE* dialog, WizardState& state) {
                return DialogBoxIndirectParamW(nullptr, dialog, nullptr, wizard_dialog_proc,
                                               reinterpret_cast<LPARAM>(&state));
            },
        .show_error =
            [](const std::wstring& text, const std::wstring& caption, UINT flags) {
                MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags);
            },
    };
}

int run_wizard(const WizardShell& shell) {
    WizardState state;
    state.model.launcher_present = launcher_present();
    state.runner = std::make_shared<SetupRunner>(run_wizard_setup);
    state.banner = decode_banner(banner_png());

    const std::vector<std::uint32_t> dialog = wizard_dialog_template();
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const INT_PTR ended =
        shell.run_dialog(reinterpret_cast<const DLGTEMPLATE*>(dialog.data()), state);
    if (ended == -1) {
        shell.show_error(to_wide(could_not_open_text), to_wide(product_name), MB_ICONERROR);
        return could_not_open_exit_code;
    }
    return static_cast<int>(ended);
}

int run_wizard_role() {
    return run_wizard(real_wizard_shell());
}

}  // namespace vantrel
