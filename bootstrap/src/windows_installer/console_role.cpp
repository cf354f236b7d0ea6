#include "windows_installer/console_role.hpp"

#include <utility>
#include <variant>

#include "lib/bootstrap_install.hpp"
#include "lib/console_setup.hpp"
#include "lib/update_pipeline.hpp"
#include "windows/console_streams.hpp"
#include "windows_installer/windows_bootstrap_steps.hpp"
#include "windows_installer/windows_update_steps.hpp"

namespace vantrel {
namespace {

class WindowsConsoleSetupSteps final : public ConsoleSetupSteps {
  public:
    Result<bool> install_or_repair_bootstrap() override {
        WindowsBootstrapSteps steps;
        return vantrel::install_or_repair_bootstrap({.restart = true, .console = true}, steps);
    }

    Status update_launcher(ConsoleReporter& reporter) override {
        WindowsUpdateSteps steps;
        UpdateResult result = vantrel::update_launcher(reporter, PipelineForm::Console, steps);
        if (result)
            return {};
        // The console form always fails with the stage error itself.
        return std::get<Error>(std::move(result).error());
    }
};

}  // namespace

int run_console_role() {
    StandardStream output(StandardStreamId::Output);
    StandardStream error(StandardStreamId::Error);
    StandardInput input;
    WindowsConsoleSetupSteps steps;
    return run_console_setup(output, error, input, steps);
}

}  // namespace vantrel
