#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "vantrel-release/command_line.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// One subcommand: its options, its help text and what it does with validated
// arguments. A failure's message is written as the last line of standard error.
struct Command {
    std::string_view name;
    std::string_view summary;
    std::string_view help;
    std::span<const OptionDefinition> options;
    std::size_t operand_count;
    Done (*run)(const Arguments& arguments);
};

extern const Command keygen_command;
extern const Command publish_command;
extern const Command verify_command;
extern const Command check_command;
extern const Command promote_command;
extern const Command list_command;
extern const Command upload_command;

}  // namespace vantrel::release_tool
