#include "vantrel-release/object_store.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <map>
#include <set>

#include "lib/digest.hpp"
#include "vantrel-release/curl_handles.hpp"

namespace vantrel::release_tool {
namespace {

constexpr std::chrono::seconds stall_timeout{30};
// A page of a listing holds at most 1000 keys.
constexpr std::uint64_t listing_size_limit = 4 * 1024 * 1024;
constexpr std::uint64_t error_size_limit = 65536;

constexpr long status_ok = 200;
constexpr long status_no_content = 204;
constexpr long status_not_found = 404;

// The store's codes for a key or signature it does not accept.
const std::set<std::string, std::less<>> credential_codes = {
    "SignatureDoesNotMatch", "InvalidAccessKeyId", "InvalidToken",
    "ExpiredToken",          "InvalidSecurity",    "AccessDenied",
};

// SigV4 takes the query as sent: only unreserved characters stay as they are.
std::string percent_encoded(std::string_view text) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += digits[byte >> 4];
            encoded += digits[byte & 0xF];
        }
    }
    return encoded;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view space = " \t\r\n";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::string lower_case(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

}  // namespace

struct ObjectStore::Request {
    std::string_view method;
    std::string_view key;
    std::string query;  // encoded and sorted by name
    std::vector<std::string> headers;
    ByteView body;
    std::uint64_t limit = error_size_limit;
    const UploadProgress* progress = nullptr;
};

struct ObjectStore::Response {
    long status = 0;
    std::map<std::string, std::string, std::less<>> headers;  // names in lower case
    Bytes body;
    bool over_limit = false;

    std::string header(std::string_view name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

namespace {

struct Exchange {
    ObjectStore::Response* response;
    std::uint64_t limit;
    const UploadProgress* progress;
};

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    const std::string_view line(data, size * count);
    const auto colon = line.find(':');
    if (line.starts_with("HTTP/")) {
        exchange.response->headers.clear();  // after "100 Continue" the real answer follows
    } else if (colon != std::string_view::npos) {
        exchange.response->headers[lower_case(trimmed(line.substr(0, colon)))] =
            trimmed(line.substr(colon + 1));
    }
    return line.size();
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    const std::size_t chunk = size * count;
    Bytes& body = exchange.response->body;
    if (body.size() + chunk > exchange.limit) {
        exchange.response->over_limit = true;
        return 0;
    }
    body.insert(body.end(), data, data + chunk);
    return chunk;
}

int on_progress(void* context, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
    auto& exchange = *static_cast<Exchange*>(context);
    if (exchange.progress != nullptr && *exchange.progress && total > 0)
        (*exchange.progress)(static_cast<std::uint64_t>(sent), static_cast<std::uint64_t>(total));
    return 0;
}

}  // namespace

ObjectStore::ObjectStore(StoreEndpoint endpoint, StoreLocation location, Credentials credentials,
                         std::optional<std::string> ca_file)
    : endpoint_(std::move(endpoint)),
      location_(std::move(location)),
      credentials_(std::move(credentials)),
      ca_file_(std::move(ca_file)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

ObjectStore::~ObjectStore() {
    curl_global_cleanup();
}

std::string ObjectStore::url(std::string_view key) const {
    return object_url(endpoint_, location_, key.empty() ? "" : location_.prefix + std::string(key));
}

Outcome<ObjectStore::Response> ObjectStore::perform(const Request& request) const {
    const EasyHandle curl(curl_easy_init());
    if (!curl)
        return Failure{"libcurl could not start a request"};
    std::string url = this->url(request.key);
    if (!request.query.empty())
        url += "?" + request.query;
    const std::string signing = "aws:amz:" + endpoint_.region + ":s3";

    std::vector<std::string> lines = request.headers;
    lines.push_back("x-amz-content-sha256: " + lower_hex(sha256(request.body)));
    if (credentials_.session_token)
        lines.push_back("x-amz-security-token: " + *credentials_.session_token);
    // No header may be blanked out here ("Expect:"): libcurl would sign it as sent empty.
    HeaderList headers;
    for (const std::string& line : lines) {
        curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
        if (appended == nullptr)
            return Failure{"libcurl could not take a request header"};
        // The list's head stays the same once it has one; NULL leaves the list as it was.
        if (!headers)
            headers.reset(appended);
    }

    Response response;
    Exchange exchange{&response, request.limit, request.progress};
    std::array<char, CURL_ERROR_SIZE> error_text{};
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_AWS_SIGV4, signing.c_str());
    curl_easy_setopt(handle, CURLOPT_USERNAME, credentials_.access_key.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, credentials_.secret_key.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    set_transfer_options(handle, stall_timeout, ca_file_, error_text);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, request.progress != nullptr ? 0L : 1L);
    if (request.method == "HEAD") {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (request.method != "GET") {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, std::string(request.method).c_str());
    }
    if (request.method == "PUT") {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }

    const CURLcode code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    if (code != CURLE_OK && !response.over_limit) {
        const std::string text =
            error_text[0] != '\0' ? error_text.data() : curl_easy_strerror(code);
        if (is_certificate_failure(code)) {
            return Failure{"the certificate of the store at " + endpoint_.origin +
                           " does not verify (" + text +
                           "): give --ca-file the CA that issued it, or fix the endpoint"};
        }
        return Failure{"could not reach the store at " + endpoint_.origin + " (" + text +
                       "): check --endpoint or AWS_ENDPOINT_URL"};
    }
    return response;
}

Failure ObjectStore::refusal(const Response& response, std::string_view what) const {
    const StoreErrorText error = parse_error_text(as_text(response.body));
    const std::string answer =
        "HTTP " + std::to_string(response.status) + (error.code.empty() ? "" : " " + error.code);
    if (error.code == "NoSuchBucket") {
        return Failure{"the bucket " + location_.bucket + " does not exist at " + endpoint_.origin +
                       ": create it, or correct the s3:// URL or the endpoint"};
    }
    if (credential_codes.contains(error.code) || (error.code.empty() && response.status == 403)) {
        return Failure{"the store refused the credentials (" + answer + ") for " +
                       std::string(what) +
                       ": check AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and the region"};
    }
    return Failure{"the store answered " + answer + " to " + std::string(what) +
                   (error.message.empty() ? "" : ": " + error.message)};
}

Outcome<std::vector<StoredObject>> ObjectStore::list(std::string_view key_prefix) const {
    const std::string full_prefix = location_.prefix + std::string(key_prefix);
    std::vector<StoredObject> objects;
    std::optional<std::string> continuation;
    do {
        Request request{"GET", "", {}, {}, {}, listing_size_limit, nullptr};
        if (continuation)
            request.query = "continuation-token=" + percent_encoded(*continuation) + "&";
        request.query += "list-type=2&prefix=" + percent_encoded(full_prefix);
        Outcome<Response> response = perform(request);
        if (!response)
            return std::move(response).error();
        if (response->status != status_ok || response->over_limit)
            return refusal(*response, "the listing of " + full_prefix);
        Outcome<ListingPage> page = parse_listing_page(as_text(response->body));
        if (!page)
            return std::move(page).error();
        for (StoredObject& object : page->objects) {
            if (object.key.starts_with(location_.prefix)) {
                object.key.erase(0, location_.prefix.size());
                objects.push_back(std::move(object));
            }
        }
        continuation = std::move(page->continuation);
    } while (continuation);
    return objects;
}

Outcome<std::optional<ObjectHead>> ObjectStore::head(std::string_view key) const {
    Outcome<Response> response = perform({"HEAD", key, {}, {}, {}, error_size_limit, nullptr});
    if (!response)
        return std::move(response).error();
    if (response->status == status_not_found)
        return std::optional<ObjectHead>();
    if (response->status != status_ok)
        return refusal(*response, std::string(key));
    ObjectHead head;
    const std::string length = response->header("content-length");
    std::from_chars(length.data(), length.data() + length.size(), head.size);
    head.sha256 = response->header(sha256_metadata_header);
    head.cache_control = response->header("cache-control");
    head.content_type = response->header("content-type");
    return std::optional<ObjectHead>(std::move(head));
}

Outcome<std::optional<Bytes>> ObjectStore::get(std::string_view key, std::uint64_t limit) const {
    Outcome<Response> response = perform({"GET", key, {}, {}, {}, limit, nullptr});
    if (!response)
        return std::move(response).error();
    if (response->status == status_not_found)
        return std::optional<Bytes>();
    if (response->over_limit)
        return Failure{std::string(key) + " on the store is larger than " + std::to_string(limit) +
                       " bytes"};
    if (response->status != status_ok)
        return refusal(*response, std::string(key));
    return std::optional<Bytes>(std::move(response->body));
}

Done ObjectStore::put(std::string_view key, const ObjectUpload& upload,
                      const UploadProgress& progress) const {
    Request request{"PUT", key, {}, {}, upload.body, error_size_limit, &progress};
    request.headers = {
        "Cache-Control: " + std::string(upload.cache_control),
        "Content-Type: " + std::string(upload.content_type),
        std::string(sha256_metadata_header) + ": " + lower_hex(sha256(upload.body)),
    };
    Outcome<Response> response = perform(request);
    if (!response)
        return std::move(response).error();
    if (response->status != status_ok)
        return refusal(*response, "the upload of " + std::string(key));
    return {};
}

Done ObjectStore::remove(std::string_view key) const {
    Outcome<Response> response = perform({"DELETE", key, {}, {}, {}, error_size_limit, nullptr});
    if (!response)
        return std::move(response).error();
    if (response->status != status_ok && response->status != status_no_content)
        return refusal(*response, "the deletion of " + std::string(key));
    return {};
}

}  // namespace vantrel::release_tool
