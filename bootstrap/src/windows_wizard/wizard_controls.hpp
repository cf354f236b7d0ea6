#pragma once

#include <windows.h>

#include "lib/wizard_pages.hpp"

namespace vantrel {

// A rectangle in dialog units as pixels of this dialog (MapDialogRect).
RECT dialog_pixels(HWND dialog, const DialogRect& rect);

// The wizard's child controls, in tab order, with the dialog's font. False when one
// cannot be made.
bool create_wizard_controls(HWND dialog);

}  // namespace vantrel
