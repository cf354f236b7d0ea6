#include "process/exit_status.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vantrel {
namespace {

struct ExitStatusCase {
    std::uint32_t code;
    std::string text;
};

TEST(ExitStatusText, DecimalUntilTheHighestBitThenEightHexDigits) {
    const ExitStatusCase cases[] = {
        {0, "exit code: 0"},
        {1, "exit code: 1"},
        {259, "exit code: 259"},
        {0x7fffffff, "exit code: 2147483647"},
        {0x80000000, "exit code: 0x80000000"},
        {0x80000003, "exit code: 0x80000003"},
        {0xc0000005, "exit code: 0xc0000005"},
        {0xC000013A, "exit code: 0xc000013a"},
        {0xffffffff, "exit code: 0xffffffff"},
    };
    for (const ExitStatusCase& c : cases) {
        EXPECT_EQ(exit_status_text(c.code), c.text) << c.code;
    }
}

}  // namespace
}  // namespace vantrel
