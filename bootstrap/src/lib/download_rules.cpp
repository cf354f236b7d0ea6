#include "lib/download_rules.hpp"

#include <string>

#include "lib/manifest.hpp"
#include "lib/utf.hpp"

namespace vantrel {
namespace {

// NUL too: the path reaches WinHTTP as NUL-terminated text, which would silently drop
// everything after it.
constexpr std::string_view forbidden_path_characters{"?#\\\r\n\0", 6};

}  // namespace

bool is_valid_download_path(std::string_view path) {
    if (!path.starts_with(release_root))
        return false;
    if (find_invalid_utf8(path))
        return false;
    // Every forbidden character is ASCII, so in valid UTF-8 a byte search finds
    // exactly the forbidden code points.
    return path.find_first_of(forbidden_path_characters) == std::string_view::npos;
}

Error invalid_download_path_error() {
    return Error::from_text(Stage::Network, "Invalid CDN path.");
}

Error download_size_error() {
    return Error::from_text(Stage::Network, "Download exceeds the setup size limit.");
}

Error download_timeout_error() {
    return Error::from_text(Stage::Network, "Download timed out. Please retry.");
}

Error connection_failure_error(std::string_view host, const IoError& system_failure) {
    std::string detail = "Could not reach ";
    detail += host;
    detail += " securely. Check your connection and retry. ";
    detail += system_failure.text();
    return Error::from_composed(Stage::Network, std::move(detail));
}

Status check_response_head(std::uint32_t status, std::optional<std::uint64_t> content_length,
                           std::uint64_t limit) {
    if (status != 200) {
        return Error::from_composed(Stage::Network, "The download server returned HTTP " +
                                                        std::to_string(status) +
                                                        ". Please retry later.");
    }
    if (content_length && *content_length > limit)
        return download_size_error();
    return {};
}

bool exceeds_download_limit(std::uint64_t received, std::uint64_t chunk, std::uint64_t limit) {
    return received > limit || chunk > limit - received;
}

bool download_time_exceeded(std::chrono::steady_clock::duration elapsed) {
    return elapsed > download_time_limit;
}

}  // namespace vantrel
