#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/bytes.hpp"
#include "vantrel-release/outcome.hpp"
#include "vantrel-release/store_address.hpp"
#include "vantrel-release/store_xml.hpp"
#include "vantrel-release/upload_settings.hpp"

namespace vantrel::release_tool {

// What a HEAD of an object tells.
struct ObjectHead {
    std::uint64_t size = 0;
    std::string sha256;  // the digest our uploads store as metadata; empty when absent
    std::string cache_control;
    std::string content_type;
};

struct ObjectUpload {
    ByteView body;
    std::string_view cache_control;
    std::string_view content_type;
};

using UploadProgress = std::function<void(std::uint64_t sent, std::uint64_t total)>;

// The S3 requests of an upload, each signed by libcurl's SigV4 with the payload's
// SHA-256. Keys are relative to the location's prefix.
class ObjectStore {
  public:
    ObjectStore(StoreEndpoint endpoint, StoreLocation location, Credentials credentials,
                std::optional<std::string> ca_file);
    ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    // Every object whose key starts with `key_prefix`, across all listing pages.
    Outcome<std::vector<StoredObject>> list(std::string_view key_prefix) const;
    Outcome<std::optional<ObjectHead>> head(std::string_view key) const;
    // The object's bytes, or nothing when there is no such object; refused over `limit`.
    Outcome<std::optional<Bytes>> get(std::string_view key, std::uint64_t limit) const;
    Done put(std::string_view key, const ObjectUpload& upload,
             const UploadProgress& progress = {}) const;
    Done remove(std::string_view key) const;

    std::string url(std::string_view key) const;

    // One request and its answer, as perform sends and receives them.
    struct Request;
    struct Response;

  private:
    Outcome<Response> perform(const Request& request) const;
    Failure refusal(const Response& response, std::string_view what) const;

    StoreEndpoint endpoint_;
    StoreLocation location_;
    Credentials credentials_;
    std::optional<std::string> ca_file_;
};

// The header that carries a stored object's SHA-256, so that a later upload can
// compare without reading the object back.
inline constexpr std::string_view sha256_metadata_header = "x-amz-meta-sha256";

}  // namespace vantrel::release_tool
