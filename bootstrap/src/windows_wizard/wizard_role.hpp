#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace vantrel {

struct WizardState;

// What the wizard role asks of the system around its state: the modal dialog over the
// template, ending with its end value or -1 when it cannot be created, and the error
// box. Tests replace both.
struct WizardShell {
    std::function<INT_PTR(const DLGTEMPLATE* dialog, WizardState& state)> run_dialog;
    std::function<void(const std::wstring& text, const std::wstring& caption, UINT flags)>
        show_error;
};

WizardShell real_wizard_shell();

// The wizard on any shell: the dialog's end value, or 1 after the error box when the
// dialog cannot be shown.
int run_wizard(const WizardShell& shell);

// No arguments or "--repair": the setup wizard on the real shell.
int run_wizard_role();

}  // namespace vantrel
