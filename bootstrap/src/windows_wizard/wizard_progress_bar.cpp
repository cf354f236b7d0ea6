#include "windows_wizard/wizard_progress_bar.hpp"

#include <commctrl.h>

#include <algorithm>

namespace vantrel {
namespace {

constexpr UINT marquee_interval_ms = 35;
constexpr std::uint32_t percent_range = 100;

}  // namespace

void apply_progress_mode(HWND bar, WizardPage page, std::optional<std::uint32_t> percent) {
    const ProgressMode mode = progress_mode(page, percent);
    const auto stored = static_cast<ProgressMode>(GetWindowLongPtrW(bar, GWLP_USERDATA));
    if (mode != stored) {
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
        const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
        SetWindowLongPtrW(
            bar, GWL_STYLE,
            mode == ProgressMode::Marquee ? style | PBS_MARQUEE : style & ~LONG_PTR(PBS_MARQUEE));
        if (mode == ProgressMode::Marquee)
            SendMessageW(bar, PBM_SETMARQUEE, TRUE, marquee_interval_ms);
        SetWindowLongPtrW(bar, GWLP_USERDATA, static_cast<LONG_PTR>(mode));
    }
    if (mode == ProgressMode::Percentage) {
        SendMessageW(bar, PBM_SETRANGE32, 0, percent_range);
        SendMessageW(bar, PBM_SETPOS, std::min(*percent, percent_range), 0);
    }
}

}  // namespace vantrel
