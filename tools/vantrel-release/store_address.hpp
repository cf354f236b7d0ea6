#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// s3://BUCKET[/PREFIX]: the tree's files are stored under PREFIX + their server path.
struct StoreLocation {
    std::string bucket;
    std::string prefix;  // empty, or folder names each followed by "/"
};

// Bucket names as every S3-compatible store takes them; prefix folders of plain
// characters only, so that a key is signed exactly as it is sent.
Outcome<StoreLocation> parse_store_url(std::string_view url);

// Where requests go. AWS's own endpoint is addressed by virtual host, any other
// endpoint by path.
struct StoreEndpoint {
    std::string region;
    std::string origin;  // scheme://host[:port], no trailing slash
    bool virtual_host;
};

// The endpoint given (http[s]://HOST[:PORT]), or else AWS's endpoint for the region.
Outcome<StoreEndpoint> store_endpoint(std::optional<std::string_view> endpoint,
                                      std::string_view region);

// The URL of a key in the bucket (a full key, prefix included); an empty key is
// the bucket itself.
std::string object_url(const StoreEndpoint& endpoint, const StoreLocation& location,
                       std::string_view key);

}  // namespace vantrel::release_tool
