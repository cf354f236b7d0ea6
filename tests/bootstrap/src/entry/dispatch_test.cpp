#include "entry/dispatch.hpp"

#include <gtest/gtest.h>

#include "entry/command_line.hpp"
#include "lib/build_settings.hpp"

namespace vantrel {
namespace {

std::vector<std::u16string> after_program(std::u16string_view line) {
    std::vector<std::u16string> args = split_command_line(line);
    args.erase(args.begin());
    return args;
}

TEST(DispatchTest, SelectsARoleOnlyForAnExactSoleOption) {
    struct Case {
        std::u16string_view line;
        Role role;
    };
    const Case cases[] = {
        {u"Vantrel.exe", Role::Wizard},
        {u"Vantrel.exe --repair", Role::Wizard},
        {u"Vantrel.exe --console", Role::Console},
        {u"Vantrel.exe \"--console\"", Role::Console},
        {u"Vantrel.exe --uninstall", Role::UninstallRequest},
        {u"Vantrel.exe --uninstall-worker", Role::UninstallWorker},
        {u"Vantrel.exe --version", Role::Version},
        {u"\"C:\\Program Files\\Vantrel\\Vantrel.exe\" --version", Role::Version},
        {u"C:\\Program Files\\Vantrel\\Vantrel.exe --version", Role::Usage},
        {u"Vantrel.exe --VERSION", Role::Usage},
        {u"Vantrel.exe --Console", Role::Usage},
        {u"Vantrel.exe --console=yes", Role::Usage},
        {u"Vantrel.exe --consol", Role::Usage},
        {u"Vantrel.exe --console ", Role::Console},
        {u"Vantrel.exe \"--console \"", Role::Usage},
        {u"Vantrel.exe -console", Role::Usage},
        {u"Vantrel.exe /console", Role::Usage},
        {u"Vantrel.exe -v", Role::Usage},
        {u"Vantrel.exe --repair --console", Role::Usage},
        {u"Vantrel.exe --version --version", Role::Usage},
        {u"Vantrel.exe \"\"", Role::Usage},
        {u"Vantrel.exe --uninstall-worker2", Role::Usage},
        {u"Vantrel.exe --", Role::Usage},
    };
    for (const Case& c : cases) {
        const std::vector<std::u16string> args = after_program(c.line);
        EXPECT_EQ(select_role(args), c.role)
            << std::string(c.line.begin(), c.line.end());  // ASCII cases only
    }
}

// Each fake role returns its own code so the test sees which one ran.
int fake_wizard() {
    return 10;
}
int fake_console() {
    return 11;
}
int fake_uninstall_request() {
    return 12;
}
int fake_uninstall_worker() {
    return -13;
}

TEST(DispatchTest, PassesTheRoleExitCodeOnUnchanged) {
    const RoleTable roles{fake_wizard, fake_console, fake_uninstall_request, fake_uninstall_worker};
    struct Case {
        std::u16string_view line;
        int exit_code;
    };
    const Case cases[] = {
        {u"p", 10},
        {u"p --repair", 10},
        {u"p --console", 11},
        {u"p --uninstall", 12},
        {u"p --uninstall-worker", -13},
        {u"p --help", usage_exit_code},
    };
    for (const Case& c : cases) {
        const std::vector<std::u16string> args = after_program(c.line);
        EXPECT_EQ(run_selected_role(args, roles), c.exit_code);
    }
}

TEST(DispatchTest, VersionLineNeedsADecodableKey) {
    EXPECT_EQ(version_output(built_in_release_key()), "VantrelSetup 0.1.17\n");
    EXPECT_EQ(version_output("untrusted comment: broken\r\nAAAA\r\n"), std::nullopt);
    EXPECT_EQ(version_output(""), std::nullopt);
}

}  // namespace
}  // namespace vantrel
