#include "lib/download_rules.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

TEST(DownloadRulesTest, PathRule) {
    struct Case {
        std::string path;
        bool valid;
    };
    const Case cases[] = {
        {"/vantrel/launcher/", true},
        {"/vantrel/launcher/stable/manifest.json", true},
        {"/vantrel/launcher/0.2.0/vantrel-launcher-0.2.0-windows-x86_64.tar.gz", true},
        {"/vantrel/launcher/..", true},  // sent as given; the server owns its tree
        {"/vantrel/launcher/caf\xc3\xa9", true},
        {"", false},
        {"/vantrel/launcher", false},
        {"/vantrel/launcherx/a", false},
        {"/vantrel/Launcher/a", false},
        {"vantrel/launcher/a", false},
        {" /vantrel/launcher/a", false},
        {"//vantrel/launcher/a", false},
        {"/vantrel/launcher/a?", false},
        {"/vantrel/launcher/a#b", false},
        {"/vantrel/launcher/a\\b", false},
        {"/vantrel/launcher/a\rb", false},
        {"/vantrel/launcher/a\nb", false},
        {"/vantrel/launcher/?x", false},
        {"/vantrel/launcher/\xff", false},
        {"/vantrel/launcher/\xe2\x80", false},
        {"/vantrel/launcher/\xc0\xbf", false},  // overlong "?"
        {std::string("/vantrel/launcher/a\0b", 21), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_valid_download_path(c.path), c.valid) << c.path;
    }
}

TEST(DownloadRulesTest, MessagesAreNetworkErrors) {
    struct Case {
        Error error;
        std::string display;
    };
    const Case cases[] = {
        {invalid_download_path_error(), "Network failed: Invalid CDN path."},
        {download_size_error(), "Network failed: Download exceeds the setup size limit."},
        {download_timeout_error(), "Network failed: Download timed out. Please retry."},
        {connection_failure_error("cdn.example.org",
                                  IoError::from_system_text("Boom (os error 12029)")),
         "Network failed: Could not reach cdn.example.org securely. Check your connection and "
         "retry. Boom (os error 12029)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.stage(), Stage::Network);
        EXPECT_EQ(c.error.display(), c.display);
    }
}

TEST(DownloadRulesTest, ResponseHead) {
    constexpr std::uint64_t limit = 16384;
    struct Case {
        std::uint32_t status;
        std::optional<std::uint64_t> length;
        std::string failure;  // empty: accepted
    };
    const std::string size = "Download exceeds the setup size limit.";
    const Case cases[] = {
        {200, std::nullopt, ""},
        {200, 0, ""},
        {200, limit, ""},
        {200, limit + 1, size},
        {200, 0xFFFFFFFFu, size},
        {302, std::nullopt, "The download server returned HTTP 302. Please retry later."},
        {301, limit + 1, "The download server returned HTTP 301. Please retry later."},
        {206, 0, "The download server returned HTTP 206. Please retry later."},
        {304, 0, "The download server returned HTTP 304. Please retry later."},
        {404, std::nullopt, "The download server returned HTTP 404. Please retry later."},
        {500, std::nullopt, "The download server returned HTTP 500. Please retry later."},
        {0, std::nullopt, "The download server returned HTTP 0. Please retry later."},
        {4294967295u, std::nullopt,
         "The download server returned HTTP 4294967295. Please retry later."},
    };
    for (const Case& c : cases) {
        const Status head = check_response_head(c.status, c.length, limit);
        if (c.failure.empty()) {
            EXPECT_TRUE(head.ok()) << c.status;
        } else {
            ASSERT_FALSE(head.ok()) << c.status;
            EXPECT_EQ(head.error().stage(), Stage::Network);
            EXPECT_EQ(head.error().detail(), c.failure);
        }
    }
}

TEST(DownloadRulesTest, LimitOnReceivedBytes) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::uint64_t received, chunk, limit;
        bool exceeds;
    };
    const Case cases[] = {
        {0, 0, 0, false},         {0, 1, 0, true},         {0, 16384, 16384, false},
        {16384, 1, 16384, true},  {100, 50, 150, false},   {100, 51, 150, true},
        {max - 1, 1, max, false}, {max, 16384, max, true}, {10, max, max, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exceeds_download_limit(c.received, c.chunk, c.limit), c.exceeds)
            << c.received << " + " << c.chunk << " against " << c.limit;
    }
}

TEST(DownloadRulesTest, TransferDeadline) {
    EXPECT_FALSE(download_time_exceeded(0s));
    EXPECT_FALSE(download_time_exceeded(59999ms));
    EXPECT_FALSE(download_time_exceeded(60000ms));
    EXPECT_TRUE(download_time_exceeded(60000ms + 1ns));
    EXPECT_TRUE(download_time_exceeded(61s));
}

}  // namespace
}  // namespace vantrel
