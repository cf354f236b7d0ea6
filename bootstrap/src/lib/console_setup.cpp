#include "lib/console_setup.hpp"

#include <string>

#include "lib/product.hpp"

namespace vantrel {
namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;

constexpr std::string_view bootstrap_title = "Bootstrap install/repair...";
constexpr std::string_view restarted_line = "Starting installed bootstrap...\n";
constexpr std::string_view error_prefix = "\nERROR: ";
constexpr std::string_view reassurance =
    "\n\nNothing unverified was installed. You can retry safely.\n";
constexpr std::string_view pause_prompt = "\nPress Enter to close...";

constexpr std::string_view terminal_pipe_prefixes[] = {"msys-", "cygwin-"};
constexpr std::string_view terminal_pipe_marker = "-pty";

void write_banner(ConsoleStream& output) {
    std::string banner(product_name);
    banner += "\nBy ";
    banner += company_name;
    banner += "\n\n";
    output.write(banner);
}

int report_failure(const Error& failure, ConsoleReporter& reporter, ConsoleStream& error,
                   ConsoleInput& input) {
    reporter.close_failed_line();

    std::string block(error_prefix);
    block += failure.display();
    block += reassurance;
    error.write(block);
    error.flush();

    if (input.is_terminal()) {
        error.write(pause_prompt);
        error.flush();
        input.read_line();
    }
    return exit_failure;
}

}  // namespace

int run_console_setup(ConsoleStream& output, ConsoleStream& error, ConsoleInput& input,
                      ConsoleSetupSteps& steps) {
    ConsoleReporter reporter(output, error);
    write_banner(output);

    reporter.begin_step(bootstrap_title);
    const Result<bool> restarted = steps.install_or_repair_bootstrap();
    if (!restarted)
        return report_failure(restarted.error(), reporter, error, input);
    reporter.close_step();
    if (*restarted) {
        output.write(restarted_line);
        return exit_success;
    }

    const Status updated = steps.update_launcher(reporter);
    if (!updated)
        return report_failure(updated.error(), reporter, error, input);
    return exit_success;
}

bool is_terminal_pipe_name(std::string_view pipe_name) {
    const std::size_t last_separator = pipe_name.rfind('\\');
    if (last_separator != std::string_view::npos)
        pipe_name.remove_prefix(last_separator + 1);
    for (const std::string_view prefix : terminal_pipe_prefixes) {
        if (pipe_name.starts_with(prefix))
            return pipe_name.find(terminal_pipe_marker) != std::string_view::npos;
    }
    return false;
}

}  // namespace vantrel
