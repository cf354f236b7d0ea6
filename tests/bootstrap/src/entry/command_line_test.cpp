#include "entry/command_line.hpp"

#include <gtest/gtest.h>

#include "lib/utf.hpp"

namespace vantrel {
namespace {

std::string printable(const std::u16string& text) {
    return utf16_to_utf8(text).value_or("<not text>");
}

TEST(CommandLineTest, SplitsLikeTheMicrosoftRuntime) {
    using Args = std::vector<std::u16string>;
    struct Case {
        std::u16string_view line;
        Args args;  // program name first
    };
    const Case cases[] = {
        {u"Vantrel.exe", {u"Vantrel.exe"}},
        {u"Vantrel.exe   ", {u"Vantrel.exe"}},
        {u"Vantrel.exe --console", {u"Vantrel.exe", u"--console"}},
        {u"Vantrel.exe\t--console\t", {u"Vantrel.exe", u"--console"}},
        {u"Vantrel.exe \"--console\"", {u"Vantrel.exe", u"--console"}},
        {u"Vantrel.exe --re\"pa\"ir", {u"Vantrel.exe", u"--repair"}},
        {u"Vantrel.exe --repair --console", {u"Vantrel.exe", u"--repair", u"--console"}},
        // Program names: quotes group, backslashes are plain.
        {u"\"C:\\Program Files\\Vantrel.exe\" --version",
         {u"C:\\Program Files\\Vantrel.exe", u"--version"}},
        {u"C:\\Program Files\\Vantrel.exe --version",
         {u"C:\\Program", u"Files\\Vantrel.exe", u"--version"}},
        {u"C:\\a\\\"b c\"\\d.exe x", {u"C:\\a\\b c\\d.exe", u"x"}},
        {u" --console", {u"", u"--console"}},
        // Empty arguments.
        {u"Vantrel.exe \"\"", {u"Vantrel.exe", u""}},
        {u"Vantrel.exe \"\" ", {u"Vantrel.exe", u""}},
        {u"Vantrel.exe \"\" \"\"", {u"Vantrel.exe", u"", u""}},
        {u"Vantrel.exe \"", {u"Vantrel.exe", u""}},
        {u"Vantrel.exe \"a b", {u"Vantrel.exe", u"a b"}},
        // Quotes inside quotes.
        {u"p \"a \"\" b\"", {u"p", u"a \" b"}},
        {u"p \"\"\"\"", {u"p", u"\""}},
        {u"p \"a\"b\"c d\"", {u"p", u"abc d"}},
        // Backslash runs.
        {u"p a\\b", {u"p", u"a\\b"}},
        {u"p a\\\\b", {u"p", u"a\\\\b"}},
        {u"p a\\\"b", {u"p", u"a\"b"}},
        {u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},
        {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
        {u"p \"C:\\dir\\\\\" x", {u"p", u"C:\\dir\\", u"x"}},
        {u"p \"C:\\dir\\\" x", {u"p", u"C:\\dir\" x"}},
        {u"p a\\", {u"p", u"a\\"}},
        {u"p \\\\", {u"p", u"\\\\"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_command_line(c.line), c.args) << printable(std::u16string(c.line));
    }
}

TEST(CommandLineTest, KeepsUnpairedSurrogates) {
    const std::u16string lone(1, char16_t(0xD800));
    const std::u16string line = u"p --con" + lone + u"sole \"" + lone + u"\"";
    const std::vector<std::u16string> args = split_command_line(line);
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[1], u"--con" + lone + u"sole");
    EXPECT_EQ(args[2], lone);
}

}  // namespace
}  // namespace vantrel
