// vantrel-release: the publisher's side of launcher releases. Makes signing keys,
// publishes signed releases in the layout the setup downloads, and checks
// published releases and live download hosts with the setup's own code, points
// stable at a published release and deploys a tree to an object store.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"

namespace {

using vantrel::write_standard_error;
using vantrel::write_standard_output;
using namespace vantrel::release_tool;

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

constexpr std::size_t name_column = 10;

constexpr std::array<const Command*, 7> commands = {
    &keygen_command,  &publish_command, &verify_command, &check_command,
    &promote_command, &upload_command,  &list_command,
};

std::string overview() {
    std::string text = "Usage: vantrel-release COMMAND [OPTIONS]\n\nCommands:\n";
    for (const Command* command : commands) {
        text += "  " + std::string(command->name) +
                std::string(name_column - command->name.size(), ' ') +
                std::string(command->summary) + "\n";
    }
    text += "\n\"vantrel-release COMMAND --help\" describes a command.\n";
    return text;
}

int usage_error(std::string_view message, std::string_view usage) {
    write_standard_error("vantrel-release: " + std::string(message) + "\n\n" + std::string(usage));
    return exit_usage;
}

int run(const Command& command, std::span<const std::string_view> words) {
    Outcome<Arguments> arguments = parse_arguments(words, command.options, command.operand_count);
    if (!arguments)
        return usage_error(arguments.error().message, command.help);
    if (arguments->has("help")) {
        write_standard_output(command.help);
        return exit_success;
    }
    if (Done done = command.run(*arguments); !done) {
        write_standard_error(done.error().message + "\n");
        return exit_failure;
    }
    return exit_success;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (words.empty())
        return usage_error("no command given", overview());
    if (words.front() == "--help" || words.front() == "help") {
        write_standard_output(overview());
        return exit_success;
    }
    for (const Command* command : commands) {
        if (words.front() == command->name)
            return run(*command, std::span(words).subspan(1));
    }
    return usage_error("unknown command \"" + std::string(words.front()) + "\"", overview());
}
