// Any body either fails with a Manifest-stage detail in UTF-8 that points inside
// the text, or gives a manifest that holds everything the validation promises
// and reads back the same after being written out again.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lib/manifest.hpp"
#include "lib/release_limits.hpp"
#include "lib/utf.hpp"

namespace {

using vantrel::Artifact;
using vantrel::Manifest;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "manifest invariant broken: %s\n", what);
        std::abort();
    }
}

bool is_decimal(std::string_view text) {
    if (text.empty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// A parse failure ends with " at line L column C", a place inside the body or
// just past its end.
void check_position(std::string_view detail, std::string_view body) {
    const std::size_t at = detail.rfind(" at line ");
    if (at == std::string_view::npos)
        return;  // a validation message
    const std::string_view place = detail.substr(at + 9);
    const std::size_t gap = place.find(" column ");
    require(gap != std::string_view::npos, "position has a column");
    const std::string_view line_text = place.substr(0, gap);
    const std::string_view column_text = place.substr(gap + 8);
    require(is_decimal(line_text) && is_decimal(column_text), "position is decimal");
    const std::size_t line = std::stoul(std::string(line_text));
    const std::size_t column = std::stoul(std::string(column_text));
    require(line >= 1 && column >= 1, "position counts from 1");

    std::size_t start = 0;
    for (std::size_t i = 1; i < line; ++i) {
        start = body.find('\n', start);
        require(start != std::string_view::npos, "line inside the body");
        ++start;
    }
    const std::size_t end = std::min(body.find('\n', start), body.size());
    require(column <= end - start + 1, "column inside the line");
}

nlohmann::json names_json(const Artifact& names) {
    return {{"archive", names.archive},
            {"checksum", names.checksum},
            {"signature", names.signature},
            {"checksum_signature", names.checksum_signature}};
}

void check_manifest(const Manifest& manifest) {
    require(manifest.schema == vantrel::manifest_schema, "schema");
    require(vantrel::is_valid_release_version(manifest.version), "version");
    require(manifest.platforms.windows_x86_64.has_value(), "windows platform");
    const Artifact expected = vantrel::expected_windows_artifact(manifest.version);
    require(*manifest.platforms.windows_x86_64 == expected, "windows names");
    const auto names = vantrel::windows_artifact(manifest);
    require(names[0] == expected.archive && names[1] == expected.checksum &&
                names[2] == expected.signature && names[3] == expected.checksum_signature,
            "windows_artifact order");

    nlohmann::json platforms = {{"windows_x86_64", names_json(expected)}};
    if (manifest.platforms.linux_x86_64) {
        platforms["linux_x86_64"] = names_json(*manifest.platforms.linux_x86_64);
    }
    const std::string written = nlohmann::json{
        {"schema", manifest.schema},
        {"version", manifest.version},
        {"platforms", platforms}}.dump();
    if (written.size() > vantrel::manifest_size_limit)
        return;
    const auto reread = vantrel::parse_manifest(vantrel::as_bytes(written));
    require(reread.ok(), "written manifest reads back");
    require(reread->version == manifest.version &&
                reread->platforms.linux_x86_64 == manifest.platforms.linux_x86_64,
            "written manifest reads back the same");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vantrel::ByteView body(data, size);
    const auto manifest = vantrel::parse_manifest(body);
    if (manifest) {
        require(size <= vantrel::manifest_size_limit, "size limit");
        check_manifest(*manifest);
        return 0;
    }
    const std::string& detail = manifest.error().detail();
    require(manifest.error().stage() == vantrel::Stage::Manifest, "stage");
    require(!detail.empty(), "detail");
    require(!vantrel::find_invalid_utf8(detail).has_value(), "detail is UTF-8");
    if (size <= vantrel::manifest_size_limit)
        check_position(detail, vantrel::as_text(body));
    return 0;
}
