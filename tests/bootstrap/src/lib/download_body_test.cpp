#include "lib/download_body.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/download_rules.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One scripted read: the bytes it returns (a failure when failed) and the time the
// clock shows when the client checks before it.
struct ScriptedRead {
    std::size_t count = 0;
    Clock::duration checked_at = 0s;
    bool failed = false;
};

class ScriptedBody final : public BodyChunkSource {
  public:
    explicit ScriptedBody(std::vector<ScriptedRead> reads) : reads_(std::move(reads)) {}

    Result<std::size_t> read(std::span<std::uint8_t> buffer) override {
        EXPECT_EQ(buffer.size(), download_chunk_size);
        EXPECT_LT(next_, reads_.size()) << "read past the end of the script";
        if (next_ >= reads_.size())
            return std::size_t{0};
        const ScriptedRead& read = reads_[next_++];
        if (read.failed)
            return Error::from_text(Stage::Network, "read failed");
        for (std::size_t i = 0; i < read.count; ++i)
            buffer[i] = std::uint8_t(offset_++);
        return read.count;
    }

    // The clock the client consults before each read.
    Clock::time_point now() const {
        const std::size_t index = std::min(next_, reads_.size() - 1);
        return start + reads_[index].checked_at;
    }

    std::size_t reads_done() const { return next_; }

    const Clock::time_point start{};

  private:
    std::vector<ScriptedRead> reads_;
    std::size_t next_ = 0;
    std::size_t offset_ = 0;
};

struct Outcome {
    Result<Bytes> body;
    std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> progress;
    std::size_t reads;
};

Outcome run(std::vector<ScriptedRead> script, std::uint64_t limit,
            std::optional<std::uint64_t> total) {
    ScriptedBody source(std::move(script));
    std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> calls;
    auto record = [&calls](std::uint64_t downloaded, std::optional<std::uint64_t> expected) {
        calls.emplace_back(downloaded, expected);
    };
    Result<Bytes> body = read_body(
        source, [&source] { return source.now(); }, source.start, limit, total,
        progress_hook_for(record));
    return {std::move(body), std::move(calls), source.reads_done()};
}

TEST(DownloadBodyTest, Outcomes) {
    constexpr std::uint64_t limit = 40000;
    constexpr auto full = download_chunk_size;
    const std::string size = "Download exceeds the setup size limit.";
    const std::string timeout = "Download timed out. Please retry.";
    struct Case {
        const char* name;
        std::vector<ScriptedRead> script;
        std::optional<std::uint64_t> total;
        std::string failure;  // empty: success
        std::vector<std::uint64_t> progress;
        std::size_t reads;
    };
    const Case cases[] = {
        {"empty body", {{0}}, 0, "", {0}, 1},
        {"empty body, no total", {{0}}, std::nullopt, "", {0}, 1},
        {"chunks kept in order",
         {{full}, {full}, {100}, {0}},
         32868,
         "",
         {0, full, 2 * full, 32868},
         4},
        {"exactly the limit",
         {{full}, {full}, {limit - 2 * full}, {0}},
         std::nullopt,
         "",
         {0, full, 2 * full, limit},
         4},
        {"one byte past the limit",
         {{full}, {full}, {limit - 2 * full + 1}},
         std::nullopt,
         size,
         {0, full, 2 * full},
         3},
        {"past the limit although the total said less",
         {{full}, {full}, {full}},
         10,
         size,
         {0, full, 2 * full},
         3},
        {"failed read", {{full}, {0, 0s, true}}, std::nullopt, "read failed", {0, full}, 2},
        {"failed first read", {{0, 0s, true}}, 5, "read failed", {0}, 1},
        {"exactly 60 s still reads", {{10, 0s}, {0, 60s}}, std::nullopt, "", {0, 10}, 2},
        {"just past 60 s stops before the read",
         {{10, 0s}, {10, 60s + 1ms}},
         std::nullopt,
         timeout,
         {0, 10},
         1},
        {"late before the first read", {{10, 61s}}, std::nullopt, timeout, {0}, 0},
        {"late only at the end", {{full, 10s}, {0, 70s}}, std::nullopt, timeout, {0, full}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(c.script, limit, c.total);
        EXPECT_EQ(outcome.reads, c.reads);
        std::vector<std::uint64_t> counts;
        for (const auto& [downloaded, total] : outcome.progress) {
            counts.push_back(downloaded);
            EXPECT_EQ(total, c.total);
        }
        EXPECT_EQ(counts, c.progress);
        if (c.failure.empty()) {
            ASSERT_TRUE(outcome.body.ok()) << outcome.body.error().display();
            ASSERT_EQ(outcome.body->size(), c.progress.back());
            for (std::size_t i = 0; i < outcome.body->size(); ++i) {
                ASSERT_EQ((*outcome.body)[i], std::uint8_t(i)) << "byte " << i;
            }
        } else {
            ASSERT_FALSE(outcome.body.ok());
            EXPECT_EQ(outcome.body.error().stage(), Stage::Network);
            EXPECT_EQ(outcome.body.error().detail(), c.failure);
        }
    }
}

TEST(DownloadBodyTest, HookWithoutFunctionDoesNothing) {
    ScriptedBody source({{3}, {0}});
    const Result<Bytes> body =
        read_body(source, [&source] { return source.now(); }, source.start, 10, std::nullopt, {});
    ASSERT_TRUE(body.ok());
    EXPECT_EQ(body->size(), 3u);
}

}  // namespace
}  // namespace vantrel
