#pragma once

#include <string_view>

#include "lib/console_reporter.hpp"
#include "lib/result.hpp"

namespace vantrel {

// Standard input of a console run; it is only read to wait for Enter after a failure.
class ConsoleInput {
  public:
    virtual ~ConsoleInput() = default;

    // A person can answer: a console, or the pipe of an MSYS or Cygwin terminal.
    virtual bool is_terminal() = 0;
    // Waits for one line. What is read, the end of input and read errors are ignored.
    virtual void read_line() = 0;
};

// The two halves of the console run.
class ConsoleSetupSteps {
  public:
    virtual ~ConsoleSetupSteps() = default;

    // True when the installed copy was started in this process's place and the run ends.
    virtual Result<bool> install_or_repair_bootstrap() = 0;
    // The console form of the launcher update, reporting to the run's reporter.
    virtual Status update_launcher(ConsoleReporter& reporter) = 0;
};

// Installs or repairs the bootstrap, then updates and starts the launcher. Returns the
// exit code: 0 on success, also when the installed copy took the run over; 1 on failure.
int run_console_setup(ConsoleStream& output, ConsoleStream& error, ConsoleInput& input,
                      ConsoleSetupSteps& steps);

// Whether a pipe of this name is how an MSYS or Cygwin terminal connects a program.
bool is_terminal_pipe_name(std::string_view pipe_name);

}  // namespace vantrel
