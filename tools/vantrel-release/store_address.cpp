#include "vantrel-release/store_address.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

namespace vantrel::release_tool {
namespace {

constexpr std::string_view store_scheme = "s3://";
constexpr std::size_t shortest_bucket = 3;
constexpr std::size_t longest_bucket = 63;

bool is_lower_or_digit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_bucket_name(std::string_view name) {
    return name.size() >= shortest_bucket && name.size() <= longest_bucket &&
           is_lower_or_digit(name.front()) && is_lower_or_digit(name.back()) &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return is_lower_or_digit(c) || c == '.' || c == '-'; }) &&
           name.find("..") == std::string_view::npos;
}

bool is_plain_folder(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' ||
                      c == '_';
           });
}

bool is_host_name(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
    });
}

bool is_region(std::string_view region) {
    return !region.empty() && std::all_of(region.begin(), region.end(),
                                          [](char c) { return is_lower_or_digit(c) || c == '-'; });
}

}  // namespace

Outcome<StoreLocation> parse_store_url(std::string_view url) {
    const Failure refused{"\"" + std::string(url) +
                          "\" is not a bucket: give s3://BUCKET or s3://BUCKET/PREFIX, with a "
                          "bucket name of 3 to 63 lower-case letters, digits, dots and hyphens "
                          "and prefix folders of letters, digits, dots, hyphens and underscores"};
    if (!url.starts_with(store_scheme))
        return refused;
    std::string_view rest = url.substr(store_scheme.size());
    const auto slash = rest.find('/');
    StoreLocation location{std::string(rest.substr(0, slash)), {}};
    if (!is_bucket_name(location.bucket))
        return refused;
    if (slash == std::string_view::npos)
        return location;
    rest.remove_prefix(slash + 1);
    if (rest.ends_with('/'))
        rest.remove_suffix(1);
    while (!rest.empty()) {
        const auto end = rest.find('/');
        const std::string_view folder = rest.substr(0, end);
        if (!is_plain_folder(folder))
            return refused;
        location.prefix += std::string(folder) + "/";
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (end != std::string_view::npos && rest.empty())
            return refused;
    }
    return location;
}

Outcome<StoreEndpoint> store_endpoint(std::optional<std::string_view> endpoint,
                                      std::string_view region) {
    if (!is_region(region))
        return Failure{"\"" + std::string(region) + "\" is not a region (such as eu-west-1)"};
    if (!endpoint)
        return StoreEndpoint{std::string(region),
                             "https://s3." + std::string(region) + ".amazonaws.com", true};
    const Failure refused{"\"" + std::string(*endpoint) +
                          "\" is not an endpoint: give https://HOST or https://HOST:PORT "
                          "(http:// for a store on this machine), without a path"};
    std::string_view rest = *endpoint;
    const auto scheme_end = rest.find("://");
    if (scheme_end == std::string_view::npos)
        return refused;
    const std::string_view scheme = rest.substr(0, scheme_end);
    if (scheme != "https" && scheme != "http")
        return refused;
    rest.remove_prefix(scheme_end + 3);
    if (rest.ends_with('/'))
        rest.remove_suffix(1);
    const auto colon = rest.find(':');
    if (!is_host_name(rest.substr(0, colon)))
        return refused;
    if (colon != std::string_view::npos) {
        const std::string_view port = rest.substr(colon + 1);
        std::uint16_t number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() || number == 0)
            return refused;
    }
    return StoreEndpoint{std::string(region), std::string(scheme) + "://" + std::string(rest),
                         false};
}

std::string object_url(const StoreEndpoint& endpoint, const StoreLocation& location,
                       std::string_view key) {
    // A bucket name with dots does not match AWS's wildcard certificate as a host name.
    if (endpoint.virtual_host && location.bucket.find('.') == std::string::npos) {
        const std::string_view https = "https://";
        return std::string(https) + location.bucket + "." + endpoint.origin.substr(https.size()) +
               "/" + std::string(key);
    }
    return endpoint.origin + "/" + location.bucket + "/" + std::string(key);
}

}  // namespace vantrel::release_tool
