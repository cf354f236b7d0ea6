#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "lib/banner_bitmap.hpp"
#include "lib/setup_runner.hpp"
#include "lib/wizard_model.hpp"
#include "windows_wizard/gdi_object.hpp"

namespace vantrel {

// Everything the dialog needs, owned by the wizard role while the dialog runs and
// reachable through the window's user-data slot.
struct WizardState final : WizardActions {
    WizardModel model;
    std::shared_ptr<SetupRunner> runner;
    std::optional<BannerBitmap> banner;
    GdiObject<HFONT> large_title_font;
    GdiObject<HFONT> title_font;
    GdiObject<HBRUSH> banner_brush;
    std::optional<WizardPage> laid_out_page;

    bool start_worker(ProgressSender sender) override;
    SentenceStatus launch() override;
};

// The dialog procedure; the state comes as the WM_INITDIALOG parameter.
INT_PTR CALLBACK wizard_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace vantrel
