#pragma once

#include <cstdint>
#include <string_view>
#include <variant>

#include "lib/error.hpp"
#include "lib/progress.hpp"
#include "lib/result.hpp"
#include "lib/update_steps.hpp"

namespace vantrel {

// The wizard shows progress in its window and starts the launcher itself later; the
// console starts it at the end of the run and puts the previous one back if it fails.
enum class PipelineForm : std::uint8_t { Wizard, Console };

inline constexpr std::string_view close_launcher_prefix = "Close the launcher and retry. ";
inline constexpr std::string_view recovery_failed_infix = " Recovery could not finish: ";
inline constexpr std::string_view previous_retained_infix =
    ". Your previous launcher is retained in ";

// The console form fails with the stage error, the wizard form with only the stage's
// sentence, so that no detail reaches the window.
using UpdateFailure = std::variant<Error, std::string_view>;
using UpdateResult = BasicResult<void, UpdateFailure>;

// Makes the installed launcher the verified current release, or finds that it already
// is; reports each step to the reporter as it is reached.
UpdateResult update_launcher(ProgressReporter& reporter, PipelineForm form, UpdateSteps& steps);

}  // namespace vantrel
