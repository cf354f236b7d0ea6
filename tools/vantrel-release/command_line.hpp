#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

struct OptionDefinition {
    std::string_view name;  // without the leading "--"
    bool takes_value;
    bool required;
};

// The options of a command line, and its operands.
class Arguments {
  public:
    bool has(std::string_view option) const { return given_.contains(option); }

    // The value of an option that takes one; empty when it was not given.
    std::optional<std::string_view> value(std::string_view option) const;

    const std::vector<std::string>& operands() const { return operands_; }

  private:
    friend Outcome<Arguments> parse_arguments(std::span<const std::string_view>,
                                              std::span<const OptionDefinition>, std::size_t);

    std::set<std::string, std::less<>> given_;
    std::map<std::string, std::string, std::less<>> values_;
    std::vector<std::string> operands_;
};

// Reads "--name value", "--name=value" and "--flag"; "--" ends the options. An
// unknown, repeated or missing option, a missing value or another number of operands
// than `operand_count` is refused with a message for the usage text. "--help" is
// always known and waives the other checks.
Outcome<Arguments> parse_arguments(std::span<const std::string_view> words,
                                   std::span<const OptionDefinition> options,
                                   std::size_t operand_count);

}  // namespace vantrel::release_tool
