#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

struct StoredObject {
    std::string key;  // the full key, prefix included
    std::uint64_t size;
};

// One page of a ListObjectsV2 answer.
struct ListingPage {
    std::vector<StoredObject> objects;
    std::optional<std::string> continuation;  // present while the listing is truncated
};

Outcome<ListingPage> parse_listing_page(std::string_view xml);

// The Code and Message of an S3 error document; empty when the body is none.
struct StoreErrorText {
    std::string code;
    std::string message;
};

StoreErrorText parse_error_text(std::string_view xml);

}  // namespace vantrel::release_tool
