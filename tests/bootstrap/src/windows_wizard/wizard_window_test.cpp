// The wizard window's own decisions under Wine: the role's ending when the dialog
// cannot be created, and the progress bar's mode over a run's statuses.

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "windows_wizard/wizard_progress_bar.hpp"
#include "windows_wizard/wizard_role.hpp"

namespace vantrel {
namespace {

struct ShownBox {
    std::wstring text;
    std::wstring caption;
    UINT flags;

    friend bool operator==(const ShownBox&, const ShownBox&) = default;
};

struct RoleRow {
    INT_PTR dialog_end;
    int exit_code;
    std::optional<ShownBox> box;
};

// clang-format off
const RoleRow role_rows[] = {
    // dialog end  exit  box
    {-1,           1,    ShownBox{L"Setup could not open. Please try again.", L"Orvanis Launcher Setup", MB_ICONERROR}},
    {0,            0,    std::nullopt},
    {1,            1,    std::nullopt},
};
// clang-format on

TEST(WizardRole, EndsWithTheDialogsValueOrTheErrorBox) {
    for (const RoleRow& row : role_rows) {
        SCOPED_TRACE(row.dialog_end);
        std::optional<ShownBox> shown;
        const WizardShell shell{
            .run_dialog = [&](const DLGTEMPLATE*, WizardState&) { return row.dialog_end; },
            .show_error =
                [&](const std::wstring& text, const std::wstring& caption, UINT flags) {
                    shown = ShownBox{text, caption, flags};
                },
        };
        EXPECT_EQ(run_wizard(shell), row.exit_code);
        EXPECT_EQ(shown, row.box);
    }
}

struct BarRow {
    WizardPage page;
    std::optional<std::uint32_t> percent;
    bool marquee;
    std::optional<int> position;  // in the percentage mode
};

// One run's statuses in turn, on one bar.
// clang-format off
const BarRow bar_rows[] = {
    // page                  percent       marquee  position
    {WizardPage::Installing, std::nullopt, true,    std::nullopt},
    {WizardPage::Installing, 42u,          false,   42},
    {WizardPage::Installing, std::nullopt, true,    std::nullopt},
    {WizardPage::Installing, 250u,         false,   100},
    {WizardPage::Finished,   std::nullopt, false,   std::nullopt},
};
// clang-format on

TEST(WizardProgressBar, FollowsEachStatusOfARun) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 12, nullptr,
                                     nullptr, nullptr, nullptr);
    if (bar == nullptr)
        GTEST_SKIP() << "no window can be made here (Wine without a display?), error "
                     << GetLastError();
    for (const BarRow& row : bar_rows) {
        SCOPED_TRACE(row.percent ? int(*row.percent) : -1);
        apply_progress_mode(bar, row.page, row.percent);
        EXPECT_EQ((GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) != 0, row.marquee);
        if (row.position) {
            EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), *row.position);
        }
    }
    DestroyWindow(bar);
}

}  // namespace
}  // namespace vantrel
