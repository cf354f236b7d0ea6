#pragma once

namespace vantrel {

// "--console": the whole setup with text output on the process's standard handles.
int run_console_role();

}  // namespace vantrel
