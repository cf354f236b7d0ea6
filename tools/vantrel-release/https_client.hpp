#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/result.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// A download host as "https://HOST" or "https://HOST:PORT".
struct HostAddress {
    std::string host;
    std::uint16_t port;
};

// Refuses anything but an HTTPS URL of a host and an optional port: no path, no query.
Outcome<HostAddress> parse_host_url(std::string_view url);

// One response as the setup received it, with the headers it does not look at.
struct Fetched {
    std::uint32_t status = 0;  // 0 when no answer arrived
    std::optional<std::uint64_t> declared_length;
    std::string content_type;
    std::string content_encoding;
    std::string cache_control;
    std::string location;
    Bytes body;
    bool body_cut_short = false;  // the connection ended before the declared length
    bool certificate_refused = false;
    std::chrono::steady_clock::duration elapsed{};
    Status outcome;  // the setup's verdict on the transfer
};

// The setup's fetch of a path with its own rules (path, status, size limit, time
// limit), from a host given at run time. Trusts the system's CAs, or only ca_file.
class HttpsClient {
  public:
    HttpsClient(HostAddress address, std::optional<std::string> ca_file);
    ~HttpsClient();
    HttpsClient(const HttpsClient&) = delete;
    HttpsClient& operator=(const HttpsClient&) = delete;

    Fetched fetch(std::string_view path, std::uint64_t limit) const;

  private:
    HostAddress address_;
    std::optional<std::string> ca_file_;
};

}  // namespace vantrel::release_tool
