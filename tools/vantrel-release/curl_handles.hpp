#pragma once

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "lib/download_rules.hpp"

namespace vantrel::release_tool {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// What every request of the tool does alike: no redirect, no signals, the setup's connect
// timeout, a stall limit, the CA file when one is given, and libcurl's own text of a failure.
inline void set_transfer_options(CURL* handle, std::chrono::seconds stall_timeout,
                                 const std::optional<std::string>& ca_file,
                                 std::array<char, CURL_ERROR_SIZE>& error_text) {
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(download_connect_timeout.count()));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall_timeout.count()));
    if (ca_file)
        curl_easy_setopt(handle, CURLOPT_CAINFO, ca_file->c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_text.data());
}

inline bool is_certificate_failure(CURLcode code) {
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
           code == CURLE_SSL_ISSUER_ERROR;
}

}  // namespace vantrel::release_tool
