#include "lib/json_position.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/json_token_cursor.hpp"

namespace vantrel {
namespace {

TEST(JsonPositionTest, CountsLinesAtLineFeedsAndColumnsInBytes) {
    struct Case {
        std::string_view text;
        std::size_t index;
        TextPosition position;
    };
    const Case cases[] = {
        {"", 0, {1, 1}},          {"abc", 0, {1, 1}},
        {"abc", 2, {1, 3}},       {"abc", 3, {1, 4}},     // the end of the text
        {"a\nb", 1, {1, 2}},                              // the line feed belongs to its line
        {"a\nb", 2, {2, 1}},      {"a\r\nb", 2, {1, 3}},  // a carriage return is a column
        {"a\r\nb", 3, {2, 1}},    {"a\rb", 2, {1, 3}},    // and no line end by itself
        {"a\n", 2, {2, 1}},       {"\n\n\nx", 3, {4, 1}},
        {"\xC3\xA9x", 2, {1, 3}},  // two-byte character, two columns
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text_position(c.text, c.index), c.position) << c.text << " @" << c.index;
    }
}

TEST(JsonPositionTest, LocatedAppendsTheWords) {
    EXPECT_EQ(located("trailing characters", "{}\n  x", 5),
              "trailing characters at line 2 column 3");
}

TEST(JsonTokenCursorTest, MeasuresEachTokenTheParserReports) {
    struct Case {
        std::string_view text;
        std::vector<std::string_view> tokens;
        std::size_t rest;  // next_significant after the last token
    };
    const Case cases[] = {
        {R"({"a\"b\\": -0.5e+3, "c" :[true,false,null]})",
         {"{", R"("a\"b\\")", "-0.5e+3", R"("c")", "[", "true", "false", "null", "]", "}"},
         43},
        {"[0,-0,12,1E5,3.25e-1]", {"[", "0", "-0", "12", "1E5", "3.25e-1", "]"}, 21},
        {"01", {"0"}, 1},  // the parser reports 0, then fails at 1
        {"1-", {"1"}, 1},
        {" \t\r\n{ }  x", {"{", "}"}, 9},  // the first byte after the value
        {"[\"\\u0022\"]\n ", {"[", "\"\\u0022\"", "]"}, 12},
    };
    for (const Case& c : cases) {
        JsonTokenCursor cursor(c.text);
        std::vector<std::string_view> tokens;
        for (std::size_t i = 0; i < c.tokens.size(); ++i) {
            tokens.push_back(cursor.text_of(cursor.next_token()));
        }
        EXPECT_EQ(tokens, c.tokens) << c.text;
        EXPECT_EQ(cursor.next_significant(), c.rest) << c.text;
    }
}

TEST(JsonTokenCursorTest, SpansAreInclusiveByteIndexes) {
    JsonTokenCursor cursor("  \"ab\" , 7");
    const JsonSpan string = cursor.next_token();
    EXPECT_EQ(string.first, 2u);
    EXPECT_EQ(string.last, 5u);
    const JsonSpan number = cursor.next_token();
    EXPECT_EQ(number.first, 9u);
    EXPECT_EQ(number.last, 9u);
}

}  // namespace
}  // namespace vantrel
