#include "entry/dispatch.hpp"

#include <array>

#include "lib/build_settings.hpp"
#include "lib/product.hpp"
#include "lib/public_key.hpp"
#include "lib/role_options.hpp"
#include "lib/standard_streams.hpp"
#include "lib/utf.hpp"

namespace vantrel {
namespace {

struct Option {
    std::string_view text;
    Role role;
};

constexpr std::array<Option, 5> options{{
    {repair_option, Role::Wizard},
    {version_option, Role::Version},
    {console_option, Role::Console},
    {uninstall_option, Role::UninstallRequest},
    {uninstall_worker_option, Role::UninstallWorker},
}};

int run_version() {
    const std::optional<std::string> line = version_output(built_in_release_key());
    if (!line)
        return version_key_failure_exit_code;
    write_standard_output(*line);
    return 0;
}

}  // namespace

Role select_role(std::span<const std::u16string> arguments) {
    if (arguments.empty())
        return Role::Wizard;
    if (arguments.size() > 1)
        return Role::Usage;
    for (const Option& option : options) {
        if (arguments[0] == utf8_to_utf16(option.text))
            return option.role;
    }
    return Role::Usage;
}

std::optional<std::string> version_output(std::string_view release_key_text) {
    if (!decode_public_key(release_key_text))
        return std::nullopt;
    std::string line(program_id);
    line += ' ';
    line += product_version;
    line += '\n';
    return line;
}

int run_selected_role(std::span<const std::u16string> arguments, const RoleTable& roles) {
    switch (select_role(arguments)) {
        case Role::Wizard:
            return roles.wizard();
        case Role::Console:
            return roles.console();
        case Role::UninstallRequest:
            return roles.uninstall_request();
        case Role::UninstallWorker:
            return roles.uninstall_worker();
        case Role::Version:
            return run_version();
        case Role::Usage:
            break;
    }
    write_standard_error(usage_line);
    return usage_exit_code;
}

}  // namespace vantrel
