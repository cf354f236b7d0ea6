#include "process/version_answer.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

namespace vantrel {
namespace {

using namespace std::string_view_literals;

struct AnswerCase {
    std::string_view what;
    std::string_view output;
    std::uint32_t exit_code;
    std::string_view version;
    bool matches;
};

TEST(VersionAnswer, ExactProgramNameAndVersionWithExitCodeZero) {
    const AnswerCase cases[] = {
        {"bare answer", "vantrel-launcher 1.2.3", 0, "1.2.3", true},
        {"line feed", "vantrel-launcher 1.2.3\n", 0, "1.2.3", true},
        {"Windows line end", "vantrel-launcher 1.2.3\r\n", 0, "1.2.3", true},
        {"blanks around", " \t\v\f\r\nvantrel-launcher 1.2.3 \t\r\n\n", 0, "1.2.3", true},
        {"no-break space and ideographic space", "\xC2\xA0vantrel-launcher 1.2.3\xE3\x80\x80", 0,
         "1.2.3", true},
        {"next line and paragraph separator", "\xC2\x85vantrel-launcher 1.2.3\xE2\x80\xA9", 0,
         "1.2.3", true},
        {"version text used unchanged", "vantrel-launcher 2.0.0-rc.1+build.7\n", 0,
         "2.0.0-rc.1+build.7", true},
        {"leading v", "vantrel-launcher v1.2.3\n", 0, "1.2.3", false},
        {"version without program name", "1.2.3\n", 0, "1.2.3", false},
        {"other case", "Vantrel-launcher 1.2.3", 0, "1.2.3", false},
        {"two spaces inside", "vantrel-launcher  1.2.3", 0, "1.2.3", false},
        {"tab instead of the space", "vantrel-launcher\t1.2.3", 0, "1.2.3", false},
        {"longer version", "vantrel-launcher 1.2.3.4", 0, "1.2.3", false},
        {"shorter version", "vantrel-launcher 1.2", 0, "1.2.3", false},
        {"second line", "vantrel-launcher 1.2.3\nready\n", 0, "1.2.3", false},
        {"NUL is not white space", "vantrel-launcher 1.2.3\0"sv, 0, "1.2.3", false},
        {"zero-width space is not white space", "vantrel-launcher 1.2.3\xE2\x80\x8B", 0, "1.2.3",
         false},
        {"invalid byte after the version", "vantrel-launcher 1.2.3\xFF", 0, "1.2.3", false},
        {"invalid byte decodes to U+FFFD", "vantrel-launcher 1.2\xFF", 0, "1.2\xEF\xBF\xBD", true},
        {"truncated sequence decodes to one U+FFFD", "vantrel-launcher 1.2\xE2\x82", 0,
         "1.2\xEF\xBF\xBD", true},
        {"nothing printed", "", 0, "1.2.3", false},
        {"right text, exit code 1", "vantrel-launcher 1.2.3\n", 1, "1.2.3", false},
        {"right text, crashed", "vantrel-launcher 1.2.3\n", 0xc0000005, "1.2.3", false},
    };
    for (const AnswerCase& c : cases) {
        EXPECT_EQ(version_answer_matches(as_bytes(c.output), c.exit_code, c.version), c.matches)
            << c.what;
    }
}

}  // namespace
}  // namespace vantrel
