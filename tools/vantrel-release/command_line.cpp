#include "vantrel-release/command_line.hpp"

#include <algorithm>

namespace vantrel::release_tool {
namespace {

constexpr std::string_view help_option = "help";
constexpr std::string_view option_marker = "--";

const OptionDefinition* find_option(std::span<const OptionDefinition> options,
                                    std::string_view name) {
    const auto found =
        std::find_if(options.begin(), options.end(),
                     [&](const OptionDefinition& definition) { return definition.name == name; });
    return found == options.end() ? nullptr : &*found;
}

Failure usage_failure(std::string_view what, std::string_view name) {
    return {std::string(what) + " --" + std::string(name)};
}

}  // namespace

std::optional<std::string_view> Arguments::value(std::string_view option) const {
    const auto found = values_.find(option);
    if (found == values_.end())
        return std::nullopt;
    return found->second;
}

Outcome<Arguments> parse_arguments(std::span<const std::string_view> words,
                                   std::span<const OptionDefinition> options,
                                   std::size_t operand_count) {
    Arguments arguments;
    bool options_ended = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (!options_ended && word == option_marker) {
            options_ended = true;
            continue;
        }
        if (options_ended || !word.starts_with(option_marker)) {
            arguments.operands_.emplace_back(word);
            continue;
        }
        std::string_view name = word.substr(option_marker.size());
        std::optional<std::string_view> inline_value;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            inline_value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == help_option) {
            arguments.given_.emplace(name);
            continue;
        }
        const OptionDefinition* definition = find_option(options, name);
        if (definition == nullptr)
            return usage_failure("unknown option", name);
        if (!arguments.given_.emplace(name).second)
            return usage_failure("repeated option", name);
        if (!definition->takes_value) {
            if (inline_value)
                return usage_failure("no value is taken by", name);
            continue;
        }
        if (!inline_value) {
            if (i + 1 == words.size())
                return usage_failure("a value is needed after", name);
            inline_value = words[++i];
        }
        arguments.values_.emplace(name, *inline_value);
    }

    if (arguments.has(help_option))
        return arguments;
    for (const OptionDefinition& definition : options) {
        if (definition.required && !arguments.has(definition.name))
            return usage_failure("missing option", definition.name);
    }
    if (arguments.operands_.size() != operand_count) {
        return Failure{"expected " + std::to_string(operand_count) + " operand(s), got " +
                       std::to_string(arguments.operands_.size())};
    }
    return arguments;
}

}  // namespace vantrel::release_tool
