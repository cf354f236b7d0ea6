#include "lib/manifest.hpp"

#include <gtest/gtest.h>

#include <string>

#include "lib/json_manifest_reader.hpp"
#include "lib/release_limits.hpp"

namespace vantrel {
namespace {

constexpr std::string_view unsupported = "Unsupported schema or version.";
constexpr std::string_view platform_missing = "Required platform is missing.";
constexpr std::string_view names_invalid = "Windows x86_64 artifact names are invalid.";

std::string names_object(const Artifact& names) {
    return R"({"archive":")" + names.archive + R"(","checksum":")" + names.checksum +
           R"(","signature":")" + names.signature + R"(","checksum_signature":")" +
           names.checksum_signature + R"("})";
}

std::string manifest_text(std::string_view schema, std::string_view version,
                          std::string_view platforms) {
    return R"({"schema":)" + std::string(schema) + R"(,"version":")" + std::string(version) +
           R"(","platforms":)" + std::string(platforms) + "}";
}

std::string windows_platforms(const Artifact& names) {
    return R"({"windows_x86_64":)" + names_object(names) + "}";
}

// A manifest that passes when `version` does: its names follow from the version.
std::string release_manifest(std::string_view version) {
    return manifest_text("1", version, windows_platforms(expected_windows_artifact(version)));
}

Result<Manifest> parse(std::string_view text) {
    return parse_manifest(as_bytes(text));
}

// The detail of a failed parse; "" when it passed.
std::string failure_of(std::string_view text) {
    const Result<Manifest> manifest = parse(text);
    if (manifest)
        return "";
    EXPECT_EQ(manifest.error().stage(), Stage::Manifest) << text;
    return manifest.error().detail();
}

// The manifest for 1.4.0 as the release tool publishes it.
constexpr std::string_view published = R"({
  "schema": 1,
  "version": "1.4.0",
  "platforms": {
    "windows_x86_64": {
      "archive": "vantrel-launcher-1.4.0-x86_64-windows.tar.gz",
      "checksum": "vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256",
      "signature": "vantrel-launcher-1.4.0-x86_64-windows.tar.gz.minisig",
      "checksum_signature": "vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256.minisig"
    }
  }
}
)";

TEST(ManifestTest, ReadsThePublishedManifest) {
    const Result<Manifest> manifest = parse(published);
    ASSERT_TRUE(manifest) << manifest.error().display();
    EXPECT_EQ(manifest->schema, 1u);
    EXPECT_EQ(manifest->version, "1.4.0");
    EXPECT_FALSE(manifest->platforms.linux_x86_64);
    const std::array<std::string_view, 4> names = windows_artifact(*manifest);
    EXPECT_EQ(names[0], "vantrel-launcher-1.4.0-x86_64-windows.tar.gz");
    EXPECT_EQ(names[1], "vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256");
    EXPECT_EQ(names[2], "vantrel-launcher-1.4.0-x86_64-windows.tar.gz.minisig");
    EXPECT_EQ(names[3], "vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256.minisig");
    EXPECT_EQ(expected_windows_artifact("1.4.0"), *manifest->platforms.windows_x86_64);
}

TEST(ManifestTest, ArtifactPathsLieUnderTheVersion) {
    EXPECT_EQ(artifact_path("1.4.0", "vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256"),
              "/vantrel/launcher/1.4.0/vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256");
    EXPECT_EQ(artifact_path("10.0.007", "x"), "/vantrel/launcher/10.0.007/x");
}

TEST(ManifestDeathTest, WindowsArtifactOfAnUnvalidatedManifestIsAnInternalFault) {
    const Manifest manifest{1, "1.4.0", {std::nullopt, expected_windows_artifact("1.4.0")}};
    EXPECT_EXIT(windows_artifact(manifest), testing::ExitedWithCode(101),
                "validated manifest platform");
}

TEST(ManifestSizeTest, LimitIncludesItsLastByte) {
    std::string body = release_manifest("1.4.0");
    body.resize(manifest_size_limit, ' ');  // trailing white space is allowed
    EXPECT_EQ(failure_of(body), "");
    body += ' ';
    EXPECT_EQ(failure_of(body), "Manifest is too large.");
    // The size is checked before the text is read at all.
    EXPECT_EQ(failure_of(std::string(manifest_size_limit + 1, 'x')), "Manifest is too large.");
}

TEST(ManifestValidationTest, RefusesValuesInOrder) {
    const Artifact names = expected_windows_artifact("1.4.0");
    const auto with_names = [&](auto change) {
        Artifact changed = names;
        change(changed);
        return manifest_text("1", "1.4.0", windows_platforms(changed));
    };
    const std::string linux_only = R"({"linux_x86_64":)" + names_object(names) + "}";
    struct Case {
        std::string name;
        std::string text;
        std::string_view detail;
    };
    const Case cases[] = {
        {"schema 2", manifest_text("2", "1.4.0", windows_platforms(names)), unsupported},
        {"largest schema", manifest_text("4294967295", "1.4.0", windows_platforms(names)),
         unsupported},
        {"bad version", manifest_text("1", "1.4", windows_platforms(names)), unsupported},
        {"schema before platform", manifest_text("2", "1.4.0", "{}"), unsupported},
        {"version before platform", manifest_text("1", "1.4.0.0", "{}"), unsupported},
        {"no platforms", manifest_text("1", "1.4.0", "{}"), platform_missing},
        {"only linux", manifest_text("1", "1.4.0", linux_only), platform_missing},
        {"windows null", manifest_text("1", "1.4.0", R"({"windows_x86_64":null})"),
         platform_missing},
        {"array form, windows null", manifest_text("1", "1.4.0", "[null,null]"), platform_missing},
        {"archive case", with_names([](Artifact& a) { a.archive[0] = 'V'; }), names_invalid},
        {"checksum suffix in capitals",
         with_names([&](Artifact& a) { a.checksum = names.archive + ".SHA256"; }), names_invalid},
        {"signature", with_names([](Artifact& a) { a.signature += ' '; }), names_invalid},
        {"checksum signature swapped",
         with_names([](Artifact& a) { std::swap(a.signature, a.checksum_signature); }),
         names_invalid},
        {"names of another version",
         manifest_text("1", "1.4.0", windows_platforms(expected_windows_artifact("1.4.1"))),
         names_invalid},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failure_of(c.text), c.detail) << c.name;
}

TEST(ManifestValidationTest, VersionIsThreeGroupsOfDigits) {
    const std::string longest =
        std::string(20, '1') + "." + std::string(20, '2') + "." + std::string(6, '3');  // 48 bytes
    struct Case {
        std::string version;
        bool valid;
    };
    const Case cases[] = {
        {"1.4.0", true},        {"0.0.0", true},
        {"007.08.9", true},     {longest, true},
        {longest + "3", false},  // 49 bytes
        {"1.2", false},         {"1.2.3.4", false},
        {".1.2.3", false},      {"1.2.3.", false},
        {".1.2", false},        {"1.2.", false},
        {"1..3", false},        {"", false},
        {"1.2.a", false},       {"v1.2.3", false},
        {"+1.2.3", false},      {"1.2.3-beta", false},
        {"1.2.3+build", false}, {" 1.2.3", false},
        {"1.2.3 ", false},      {"1.2.\xD9\xA3", false},  // ARABIC-INDIC DIGIT THREE
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_valid_release_version(c.version), c.valid) << c.version;
        // The names follow from the version, so only the version can fail.
        EXPECT_EQ(failure_of(release_manifest(c.version)), c.valid ? "" : unsupported) << c.version;
    }
}

// Keeps the manifest valid while exercising where the reader points.
struct LocatedCase {
    std::string name;
    std::string text;
    std::string detail;
};

void expect_details(const std::vector<LocatedCase>& cases) {
    for (const LocatedCase& c : cases)
        EXPECT_EQ(failure_of(c.text), c.detail) << c.name;
}

TEST(ManifestJsonTest, ReportsShapeFailuresWhereTheyAreFound) {
    const std::string good = release_manifest("1.4.0");
    const std::string windows = names_object(expected_windows_artifact("1.4.0"));
    // A value on line 3 of a document; its column is that of the value's last byte.
    const std::string on_line_3 = "{\n  \"version\": \"1.4.0\",\n  \"schema\": \"1\",\n}";
    std::string crlf = on_line_3;
    for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) {
        crlf.insert(at, "\r");
    }
    expect_details({
        {"type error on line 3", on_line_3,
         "invalid type: string \"1\", expected u32 at line 3 column 15"},
        {"crlf lines", crlf, "invalid type: string \"1\", expected u32 at line 3 column 15"},
        {"duplicate key", R"({"schema":1,"schema":1})",
         "duplicate field `schema` at line 1 column 20"},
        {"duplicate platform", R"({"platforms":{"linux_x86_64":null,"linux_x86_64":null}})",
         "duplicate field `linux_x86_64` at line 1 column 48"},
        {"duplicate unknown key", R"({"x":{"a":1,"a":2}})",
         "duplicate field `a` at line 1 column 15"},
        {"missing key at the closing brace", R"({"schema":1,"platforms":{}})",
         "missing field `version` at line 1 column 27"},
        {"missing platforms", R"({"schema":1,"version":"1.4.0"})",
         "missing field `platforms` at line 1 column 30"},
        {"missing name",
         R"({"platforms":{"windows_x86_64":{"archive":"a","checksum":"b","signature":"c"}}})",
         "missing field `checksum_signature` at line 1 column 77"},
        {"first missing in field order", "{\n}", "missing field `schema` at line 2 column 1"},
        {"manifest array too short", R"([1,"1.4.0"])",
         "invalid length 2, expected struct Manifest with 3 elements at line 1 column 11"},
        {"manifest array too long", R"([1,"1.4.0",{},4])",
         // the extra element is skipped, the length counted at the closing bracket
         "invalid length 4, expected struct Manifest with 3 elements at line 1 column 16"},
        {"platforms array too short", R"([1,"1.4.0",[null]])",
         "invalid length 1, expected struct Platforms with 2 elements at line 1 column 17"},
        {"artifact array too short", R"({"platforms":[["a","b","c"],null]})",
         "invalid length 3, expected struct Artifact with 4 elements at line 1 column 27"},
        {"artifact array too long", R"({"platforms":[["a","b","c","d","e"],null]})",
         "invalid length 5, expected struct Artifact with 4 elements at line 1 column 35"},
        {"trailing characters", good + " x",
         "trailing characters at line 1 column " + std::to_string(good.size() + 2)},
        {"trailing brace on the next line", good + "\r\n\t}",
         "trailing characters at line 2 column 2"},
        {"byte order mark", "\xEF\xBB\xBF" + good,
         "syntax error while parsing value - byte order mark is not allowed at line 1 column 1"},
        {"broken byte order mark", "\xEF\xBB" + good,
         "syntax error while parsing value - invalid literal at line 1 column 1"},
        {"byte order mark after white space", " \xEF\xBB\xBF" + good,
         "syntax error while parsing value - invalid literal at line 1 column 2"},
        {"form feed is no white space", "\f" + good,
         "syntax error while parsing value - invalid literal at line 1 column 1"},
    });
}

TEST(ManifestJsonTest, RefusesValuesOfTheWrongType) {
    const auto schema = [](std::string_view value) {
        return R"({"schema":)" + std::string(value) + "}";
    };
    const auto platforms = [](std::string_view value) {
        return R"({"platforms":)" + std::string(value) + "}";
    };
    const auto windows = [&](std::string_view value) {
        return platforms(R"({"windows_x86_64":)" + std::string(value) + "}");
    };
    const auto linux_artifact = [&](std::string_view value) {
        return platforms(R"({"linux_x86_64":)" + std::string(value) + "}");
    };
    // Column of the value's last byte in schema(...), 11 + length - 1.
    const auto at = [](std::string_view value, std::size_t start) {
        return " at line 1 column " + std::to_string(start + value.size() - 1);
    };
    std::vector<LocatedCase> cases;
    for (const auto& [value, shown] : std::vector<std::pair<std::string, std::string>>{
             {"\"1\"", "invalid type: string \"1\""},
             {"-1", "invalid value: integer `-1`"},
             {"4294967296", "invalid value: integer `4294967296`"},
             {"18446744073709551616", "invalid value: integer `18446744073709551616`"},
             {"1.0", "invalid type: floating point `1.0`"},
             {"1e0", "invalid type: floating point `1e0`"},
             {"true", "invalid type: boolean `true`"},
             {"null", "invalid type: null"},
         }) {
        cases.push_back(
            {"schema " + value, schema(value), shown + ", expected u32" + at(value, 11)});
    }
    const std::string list = "[" + std::string(200, ' ') + "1]";  // reported at its start
    cases.push_back(
        {"schema array", schema(list), "invalid type: sequence, expected u32 at line 1 column 11"});
    cases.push_back(
        {"schema object", schema("{}"), "invalid type: map, expected u32 at line 1 column 11"});
    cases.push_back({"version number", R"({"version":140})",
                     "invalid type: integer `140`, expected a string at line 1 column 14"});
    cases.push_back({"platforms number", platforms("5"),
                     "invalid type: integer `5`, expected struct Platforms at line 1 column 14"});
    cases.push_back({"platforms null", platforms("null"),
                     "invalid type: null, expected struct Platforms at line 1 column 17"});
    cases.push_back(
        {"windows string", windows(R"("a\nb")"),
         "invalid type: string \"a\\nb\", expected struct Artifact at line 1 column 37"});
    cases.push_back({"name number", windows(R"({"archive":-2.5})"),
                     "invalid type: floating point `-2.5`, expected a string at line 1 column 46"});
    cases.push_back({"linux number", linux_artifact("1"),
                     "invalid type: integer `1`, expected struct Artifact at line 1 column 30"});
    cases.push_back({"linux name null", linux_artifact(R"({"archive":null})"),
                     "invalid type: null, expected a string at line 1 column 44"});
    cases.push_back({"linux missing name", linux_artifact(R"({"archive":"","checksum":""})"),
                     "missing field `signature` at line 1 column 57"});
    cases.push_back(
        {"top-level string", "\"1.4.0\"",
         "invalid type: string \"1.4.0\", expected struct Manifest at line 1 column 7"});
    cases.push_back({"top-level number", " 7 ",
                     "invalid type: integer `7`, expected struct Manifest at line 1 column 2"});
    expect_details(cases);
}

TEST(ManifestJsonTest, ReportsSyntaxErrorsAtTheBreakingByte) {
    expect_details({
        {"empty body", "",
         "syntax error while parsing value - unexpected end of input; expected '[', '{', or a "
         "literal at line 1 column 1"},
        {"end inside an object", R"({"schema":1)",
         "syntax error while parsing object - unexpected end of input; expected '}' at line 1 "
         "column 12"},
        {"missing colon", R"({"schema" 1})",
         "syntax error while parsing object separator - unexpected number literal; expected ':' at "
         "line 1 column 11"},
        {"trailing comma", R"({"schema":1,})",
         "syntax error while parsing object key - unexpected '}'; expected string literal at line "
         "1 column 13"},
        {"leading zero", R"({"x":01})",
         "syntax error while parsing object - unexpected number literal; expected '}' at line 1 "
         "column 7"},
        {"bad escape", R"({"x":"\q"})",
         "syntax error while parsing value - invalid string: forbidden character after backslash "
         "at line 1 column 8"},
        {"raw tab in string", "{\"x\":\"a\tb\"}",
         "syntax error while parsing value - invalid string: control character U+0009 (HT) must be "
         "escaped to \\u0009 or \\t at line 1 column 8"},
        {"lone surrogate", R"({"x":"\udc00"})",
         "syntax error while parsing value - invalid string: surrogate U+DC00..U+DFFF must follow "
         "U+D800..U+DBFF at line 1 column 12"},
        {"invalid utf-8", "{\"x\":\"\xC3(\"}",
         "syntax error while parsing value - invalid string: ill-formed UTF-8 byte at line 1 "
         "column 8"},
        {"number beyond double", R"({"x":1e400})", "number out of range at line 1 column 10"},
        {"comment", "{/**/}",
         "syntax error while parsing object key - invalid literal; expected string literal at line "
         "1 column 2"},
        // An unknown value must still be JSON.
        {"broken unknown value", "{\"x\":[1,\n  tru]}",
         "syntax error while parsing value - invalid literal at line 2 column 6"},
    });
}

// The manifest of release_manifest("1.4.0"), written in other ways.
TEST(ManifestJsonTest, AcceptsEquivalentForms) {
    const Artifact names = expected_windows_artifact("1.4.0");
    const std::string names_list = R"([")" + names.archive + R"(",")" + names.checksum + R"(",")" +
                                   names.signature + R"(",")" + names.checksum_signature + R"("])";
    const std::string unknown = R"({"a":[1,-2.5e3,true,false,null,{"b":{}}],"c":"\u0000"})";
    struct Case {
        std::string name;
        std::string text;
    };
    const Case cases[] = {
        {"object form", release_manifest("1.4.0")},
        {"white space", " \t\r\n" + std::string(published) + "\r\n\t "},
        {"array form", "[1,\"1.4.0\",[" + names_list + ",null]]"},
        {"mixed forms",
         R"({"platforms":{"windows_x86_64":)" + names_list + R"(},"version":"1.4.0","schema":1})"},
        {"unknown keys at every level",
         R"({"x":)" + unknown + R"(,"schema":1,"version":"1.4.0","platforms":{"x":)" + unknown +
             R"(,"windows_x86_64":{"x":)" + unknown + "," + names_object(names).substr(1) +
             R"(,"linux_x86_64":{"x":1,"archive":"","checksum":"","signature":"","checksum_signature":""}}})"},
        {"keys differing in case are unknown",
         R"({"Schema":"x","VERSION":1,"schema":1,"version":"1.4.0","platforms":)" +
             windows_platforms(names) + "}"},
        {"escaped version and names",
         R"({"schema":1,"version":"\u0031.4\u002e0","platforms":{"windows_x86_64":{"archive":"vantrel\u002dlauncher-1.4.0-x86_64-windows.tar.gz","checksum":"vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256","signature":"vantrel-launcher-1.4.0-x86_64-windows.tar.gz.minisig","checksum_signature":"vantrel-launcher-1.4.0-x86_64-windows.tar.gz.sha256.minisig"}}})"},
        {"schema written as 1", manifest_text("1", "1.4.0", windows_platforms(names))},
    };
    for (const Case& c : cases) {
        const Result<Manifest> manifest = parse(c.text);
        ASSERT_TRUE(manifest) << c.name << ": " << manifest.error().detail();
        EXPECT_EQ(manifest->schema, 1u) << c.name;
        EXPECT_EQ(manifest->version, "1.4.0") << c.name;
        EXPECT_EQ(manifest->platforms.windows_x86_64, names) << c.name;
    }
}

TEST(ManifestJsonTest, HoldsTheLinuxArtifactWithAnyNamesAndTheUnescapedText) {
    const std::string text = manifest_text(
        "1", "1.4.0",
        R"({"linux_x86_64":["", "\"\\\/\b\f\n\r\t", "\u00e9\ud83d\ude00", "x"],"windows_x86_64":)" +
            names_object(expected_windows_artifact("1.4.0")) + "}");
    const Result<Manifest> manifest = parse(text);
    ASSERT_TRUE(manifest) << manifest.error().detail();
    const Artifact linux_names{"", "\"\\/\b\f\n\r\t", "\xC3\xA9\xF0\x9F\x98\x80", "x"};
    EXPECT_EQ(manifest->platforms.linux_x86_64, linux_names);

    const Result<Manifest> no_linux =
        parse(manifest_text("1", "1.4.0",
                            R"({"linux_x86_64":null,"windows_x86_64":)" +
                                names_object(expected_windows_artifact("1.4.0")) + "}"));
    ASSERT_TRUE(no_linux) << no_linux.error().detail();
    EXPECT_FALSE(no_linux->platforms.linux_x86_64);
}

TEST(ManifestJsonTest, FollowsNestingTo128Levels) {
    // The manifest object is the first level; an unknown value nests the rest.
    const auto nested = [](std::size_t levels) {
        const std::string good = release_manifest("1.4.0");
        return "{\"x\":" + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "," +
               good.substr(1);
    };
    EXPECT_EQ(failure_of(nested(json_depth_limit)), "");
    // Column of the 129th opening bracket: after {"x": and 127 brackets.
    EXPECT_EQ(failure_of(nested(json_depth_limit + 1)),
              "recursion limit exceeded at line 1 column 133");
    // Deep nesting costs nothing beyond the limit.
    EXPECT_EQ(failure_of(nested(5000)), "recursion limit exceeded at line 1 column 133");
}

}  // namespace
}  // namespace vantrel
