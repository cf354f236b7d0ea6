#pragma once

#include <windows.h>

#include "windows_wizard/wizard_window.hpp"

namespace vantrel {

// The dialog's background: button face, the white area, and the banner or the header
// with its rule and icon.
void paint_wizard(HWND dialog, HDC dc, const WizardState& state);

// The program's icon 1, shared (never destroyed), at the given size; null without one.
HICON program_icon(int width, int height);

}  // namespace vantrel
