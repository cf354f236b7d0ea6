#pragma once

namespace vantrel {

// No arguments or "--repair": the setup wizard. Its exit code is the dialog's end
// value, or 1 when the dialog cannot be shown.
int run_wizard_role();

}  // namespace vantrel
