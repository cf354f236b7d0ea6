#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "lib/wizard_pages.hpp"

namespace vantrel {

// Puts the progress bar into the mode of the page and percentage: off, a marquee, or the
// percentage. The mode last applied is kept in the bar's user-data slot, so that the
// style and the marquee change only when the mode does.
void apply_progress_mode(HWND bar, WizardPage page, std::optional<std::uint32_t> percent);

}  // namespace vantrel
