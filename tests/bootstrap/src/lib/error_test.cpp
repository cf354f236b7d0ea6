#include "lib/error.hpp"

#include <gtest/gtest.h>

#include "lib/result.hpp"
#include "lib/system_error_text.hpp"

namespace vantrel {
namespace {

struct StageCase {
    Stage stage;
    std::string_view name;
    std::string_view sentence;
};

constexpr StageCase stage_cases[] = {
    {Stage::Bootstrap, "Bootstrap", "We couldn't prepare setup. Please try again."},
    {Stage::Network, "Network", "We couldn't get the files. Check your connection and try again."},
    {Stage::Manifest, "Manifest", "The files did not pass our check. Please try again."},
    {Stage::Verification, "Verification", "The files did not pass our check. Please try again."},
    {Stage::Extraction, "Extraction", "We couldn't open the files. Please try again."},
    {Stage::Installation, "Installation",
     "We couldn't install the Launcher. Close it and try again."},
    {Stage::Launch, "Launch", "We couldn't open the Launcher. Please try again."},
};

TEST(StageTest, NamesAndUserSentencesFollowTheStageOrder) {
    ASSERT_EQ(std::size(stage_cases), stage_count);
    for (std::size_t i = 0; i < stage_count; ++i) {
        const StageCase& c = stage_cases[i];
        EXPECT_EQ(static_cast<std::size_t>(c.stage), i);
        EXPECT_EQ(stage_name(c.stage), c.name);
        EXPECT_EQ(user_message(c.stage), c.sentence);
    }
}

TEST(ErrorTest, DisplayFormIsStageFailedDetail) {
    struct Case {
        Error error;
        std::string_view display;
    };
    const Case cases[] = {
        {Error::from_text(Stage::Manifest, "Required platform is missing."),
         "Manifest failed: Required platform is missing."},
        {Error::from_composed(Stage::Manifest,
                              std::string("Windows x86_64") + " artifact names are invalid."),
         "Manifest failed: Windows x86_64 artifact names are invalid."},
        {Error::from_io(Stage::Installation, IoError::raised("too many temporary files exist")),
         "Installation failed: too many temporary files exist"},
        {Error::from_io(Stage::Bootstrap, IoError::from_system_text("Access denied. (os error 5)")),
         "Bootstrap failed: Access denied. (os error 5)"},
        {Error::from_text(Stage::Launch, ""), "Launch failed: "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.error.display(), c.display);
}

TEST(ErrorTest, TextDecodingFailures) {
    EXPECT_EQ(Error::from_utf8({.index = 7, .invalid_len = 2}).display(),
              "Verification failed: invalid utf-8 sequence of 2 bytes from index 7");
    EXPECT_EQ(Error::from_utf8({.index = 0, .invalid_len = 1}).detail(),
              "invalid utf-8 sequence of 1 bytes from index 0");
    EXPECT_EQ(Error::from_utf8({.index = 12, .invalid_len = 0}).detail(),
              "incomplete utf-8 byte sequence from index 12");
    EXPECT_EQ(Error::from_utf8({.index = 12, .invalid_len = 0}).stage(), Stage::Verification);
}

TEST(ErrorTest, DiagnosticFormEscapesTheDetail) {
    EXPECT_EQ(Error::from_text(Stage::Network, "plain").diagnostic(),
              R"(Error { stage: Network, detail: "plain" })");
    EXPECT_EQ(Error::from_text(Stage::Launch, "a \"q\" \\ b\nc\td\x01").diagnostic(),
              R"(Error { stage: Launch, detail: "a \"q\" \\ b\nc\td\u{1}" })");
}

TEST(SystemErrorTextTest, ComposesTheSystemMessageAndCode) {
    struct Case {
        std::uint32_t code;
        SystemMessageLookup lookup;
        std::string_view text;
    };
    const Case cases[] = {
        {2,
         {u"The system cannot find the file specified.\r\n", 0},
         "The system cannot find the file specified. (os error 2)"},
        {5, {u"Access is denied. \t\r\n\r\n", 0}, "Access is denied. (os error 5)"},
        {32,
         {u"In use\r\nby another process.\r\n", 0},
         "In use\r\nby another process. (os error 32)"},
        {1234,
         {std::nullopt, 317},
         "OS Error 1234 (FormatMessageW() returned error 317) (os error 1234)"},
        {87,
         {std::u16string(u"bad \xD800 text"), 0},
         "OS Error 87 (FormatMessageW() returned invalid UTF-16) (os error 87)"},
        {4294967295u,
         {u"\u00c9chec\r\n", 0},
         "\xc3\x89"
         "chec (os error 4294967295)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compose_system_error_text(c.code, c.lookup), c.text) << "code " << c.code;
    }
}

TEST(ResultTest, ValueOfAFailedResultIsAnInternalFault) {
    const auto take_value = [] {
        Result<int> failed = Error::from_text(Stage::Network, "down");
        (void)failed.value();
    };
    EXPECT_EXIT(take_value(), testing::ExitedWithCode(101),
                "Vantrel internal fault: value taken from a failed result\n");
}

TEST(ResultTest, CarriesValueOrError) {
    Result<std::string> good = std::string("launcher");
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, "launcher");
    Status bad = Error::from_text(Stage::Extraction, "Package has no launcher.");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().display(), "Extraction failed: Package has no launcher.");
}

}  // namespace
}  // namespace vantrel
